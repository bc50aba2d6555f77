#include "lab/common/LabLog.h"

#include <cstdio>
#include <mutex>

#include "infra/CLogger.h"

LabLog labLogToFile(const std::string& source) {
    return [source](const std::string& line) {
        logMessage(LogLevel::Debug, "%s: %s", source.c_str(), line.c_str());
    };
}

LabLog labLogToStandardOutput() {
    return [](const std::string& line) {
        static std::mutex outputLock;
        std::lock_guard guard(outputLock);
        std::fprintf(stdout, "%s\n", line.c_str());
        std::fflush(stdout);
    };
}
