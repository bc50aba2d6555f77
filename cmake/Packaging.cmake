# The Debian package. In a build folder, `cpack -G DEB` makes orvane_<version>_<arch>.deb holding
# the orvane program and whatever else the project installs (the window's .desktop file and icon);
# the lab programs, tests and benchmarks are never installed. dpkg-shlibdeps fills in the Depends
# line from the libraries the program links.
include(GNUInstallDirs)

install(TARGETS orvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The package carries the symbol table (crash dumps name functions) but not the debug sections.
install(CODE "execute_process(COMMAND ${CMAKE_STRIP} --strip-debug
                              \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/orvane\")")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvane)
set(CPACK_PACKAGE_VENDOR Brennic)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Call-centre agent phone: IAX2 softphone and VelmoraCCS CTI client")
set(CPACK_PACKAGE_DESCRIPTION
    "Orvane is the desktop phone of a call-centre agent: an IAX2 softphone with three lines, hold, transfer, "
    "consultation and conference, and the agent's client of the VelmoraCCS CTI server.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Brennic <orvane@brennic.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)

# The package is built and checked with the tests (cpack, dpkg-deb, a fresh root; about half a minute).
add_test(NAME debian_package COMMAND ${PROJECT_SOURCE_DIR}/scripts/check-package ${CMAKE_BINARY_DIR})
