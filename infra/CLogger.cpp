#include "infra/CLogger.h"

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <ctime>
#include <iostream>
#include <new>

#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr const char* kLevelWords[] = {"NORMAL", "DEBUG", "ERROR", "WARNING"};

std::atomic<CLogger*> instance{nullptr};
std::mutex instanceLock;

void writeToStandardError(std::string_view line) {
    std::cerr.write(line.data(), static_cast<std::streamsize>(line.size()));
    std::cerr.flush();
}

// "hh-mm-ss.mmm [LEVEL] [tid] " in front of the caller's text.
std::string linePrefix(LogLevel level) {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%02d-%02d-%02d.%03d [%s] [%ld] ", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<int>(millis), kLevelWords[static_cast<int>(level) & 3],
                  static_cast<long>(syscall(SYS_gettid)));
    return buffer;
}

}  // namespace

CLogger* CLogger::getInstance() {
    CLogger* logger = instance.load(std::memory_order_acquire);
    if (logger) return logger;
    std::lock_guard guard(instanceLock);
    logger = instance.load(std::memory_order_relaxed);
    if (!logger) {
        logger = new CLogger();
        instance.store(logger, std::memory_order_release);
    }
    return logger;
}

void CLogger::destroyInstance() {
    std::lock_guard guard(instanceLock);
    delete instance.exchange(nullptr);
}

CLogger::CLogger(std::string directory) : directory_(std::move(directory)), debugOutput_(writeToStandardError) {
    openFile();
    log(LogLevel::Normal, "Starting Orvane...");
    log(LogLevel::Normal, "--------------------------------------------------------------------------");
}

CLogger::~CLogger() {
    log(LogLevel::Normal, "Orvane Terminate.");
    std::lock_guard guard(lock_);
    if (file_) std::fclose(file_);
    file_ = nullptr;
}

CLogger::DebugOutput CLogger::setDebugOutput(DebugOutput output) {
    std::lock_guard guard(lock_);
    std::swap(debugOutput_, output);
    return output;
}

std::string CLogger::fileName() const {
    std::lock_guard guard(lock_);
    return file_ ? fileName_ : std::string();
}

void CLogger::openFile() {
    const std::time_t seconds = std::time(nullptr);
    std::tm local{};
    localtime_r(&seconds, &local);
    char name[100];
    std::snprintf(name, sizeof name, "Orvane.%02d.%02d.%02d.%02d.%02d.%02d.log", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    fileName_ = directory_.empty() ? std::string(name) : directory_ + "/" + name;
    file_ = std::fopen(fileName_.c_str(), "w+");
}

void CLogger::log(LogLevel level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    vlog(level, format, args);
    va_end(args);
}

void CLogger::vlog(LogLevel level, const char* format, va_list args) {
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length < 0) return;
    std::string line;
    try {
        line = linePrefix(level);
        const std::size_t prefixLength = line.size();
        line.resize(prefixLength + static_cast<std::size_t>(length) + 1);
        std::vsnprintf(line.data() + prefixLength, static_cast<std::size_t>(length) + 1, format, args);
    } catch (const std::bad_alloc&) {
        return;  // a line that cannot be allocated is dropped
    }
    line.back() = '\n';
    writeLine(line);
}

void CLogger::writeLine(const std::string& line) {
    std::lock_guard guard(lock_);
    if (!file_) openFile();
    if (file_) {
        std::fwrite(line.data(), 1, line.size(), file_);
        std::fflush(file_);
    }
    if (debugOutput_) debugOutput_(line);
}

void logMessage(LogLevel level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    CLogger::getInstance()->vlog(level, format, args);
    va_end(args);
}
