// A small versioned program for the version and update tests, built several times with different
// version notes. Prints the version read from its own file; given an update location, runs the
// start-up update check against it and prints the result and the path to store.
//   update_probe [HOST PORT PATH]
#include <cstdlib>
#include <iostream>
#include <string>

#include "infra/CAutoUpdater.h"
#include "infra/CLogger.h"
#include "infra/FileVersion.h"
#include "infra/Timing.h"

int main(int argc, char** argv) {
    std::cout << "version " << readFileVersion(runningProgramPath()) << std::endl;
    if (argc != 4) return 0;
    Timing::setScaleFromEnvironment();
    std::string path = argv[3];
    const int result = runStartupUpdateCheck(argv[1], std::atoi(argv[2]), path);
    std::cout << "result " << result << "\npath " << path << std::endl;
    CLogger::destroyInstance();
    return 0;
}
