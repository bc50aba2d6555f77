// Downloaded files asked for their version: any bytes are read without harm, and only a program
// for this machine can carry a version.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "infra/FileVersion.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const int file = ::memfd_create("program", MFD_CLOEXEC);
    static const std::string path = "/proc/self/fd/" + std::to_string(file);
    if (::ftruncate(file, 0) != 0 || ::pwrite(file, data, size, 0) != static_cast<ssize_t>(size)) std::abort();
    const ProgramFileInfo info = inspectProgramFile(path);
    if (info.version && info.kind != ProgramFileInfo::Kind::Executable) std::abort();
    if (!readFileVersion(path).empty() && !info.version) std::abort();
    return 0;
}
