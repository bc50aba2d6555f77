#include "infra/CLogger.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <new>

#include <QStandardPaths>
#include <sys/syscall.h>
#include <unistd.h>

#include "infra/Timing.h"

namespace {

constexpr const char* kLevelWords[] = {"NORMAL", "DEBUG", "ERROR", "WARNING"};

std::atomic<CLogger*> instance{nullptr};
std::mutex instanceLock;

// Standard error shows what needs attention; the file keeps everything. A line starts with
// "hh-mm-ss.mmm [LEVEL] ", so its first bracket opens the level word.
void writeWarningsToStandardError(std::string_view line) {
    const std::string_view level = line.substr(std::min(line.find('['), line.size()));
    if (!level.starts_with("[WARNING]") && !level.starts_with("[ERROR]")) return;
    std::cerr.write(line.data(), static_cast<std::streamsize>(line.size()));
    std::cerr.flush();
}

// Starts `line` with "hh-mm-ss.mmm [LEVEL] [tid] ", the part in front of the caller's text.
// The thread id and the time of the current second are kept per thread, written out once:
// most lines share both with the line before.
void startLine(std::string& line, LogLevel level) {
    thread_local const std::string threadId = "[" + std::to_string(syscall(SYS_gettid)) + "] ";
    thread_local std::time_t cachedSecond = -1;
    thread_local char secondText[16] = "";
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
    if (seconds != cachedSecond) {
        std::tm local{};
        localtime_r(&seconds, &local);
        std::snprintf(secondText, sizeof secondText, "%02d-%02d-%02d.", local.tm_hour, local.tm_min, local.tm_sec);
        cachedSecond = seconds;
    }
    const char milliText[] = {static_cast<char>('0' + millis / 100), static_cast<char>('0' + millis / 10 % 10),
                              static_cast<char>('0' + millis % 10), ' ', '['};
    line.assign(secondText);
    line.append(milliText, sizeof milliText);
    line.append(kLevelWords[static_cast<int>(level) & 3]);
    line.append("] ");
    line.append(threadId);
}

// A program that ends without destroying the logger still leaves every line in the file.
void flushAtExit() {
    if (CLogger* logger = instance.load(std::memory_order_acquire)) logger->flush();
}

}  // namespace

CLogger* CLogger::getInstance() {
    CLogger* logger = instance.load(std::memory_order_acquire);
    if (logger) return logger;
    std::lock_guard guard(instanceLock);
    logger = instance.load(std::memory_order_relaxed);
    if (!logger) {
        const std::string folder = logFolder();
        std::error_code ignored;  // an unusable folder leaves the lines on the debugger channel
        if (!folder.empty()) std::filesystem::create_directories(folder, ignored);
        logger = new CLogger(folder);
        instance.store(logger, std::memory_order_release);
        static std::once_flag atExit;
        std::call_once(atExit, [] { std::atexit(flushAtExit); });
    }
    return logger;
}

void CLogger::destroyInstance() {
    std::lock_guard guard(instanceLock);
    delete instance.exchange(nullptr);
}

std::string CLogger::logFolder() {
    if (const char* folder = std::getenv("ORVANE_LOG_DIR"); folder && *folder) return folder;
    // What QStandardPaths::AppLocalDataLocation names for Brennic/Orvane, whether or not the
    // application has set its names yet.
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return data.isEmpty() ? std::string() : data.toStdString() + "/Brennic/Orvane/logs";
}

CLogger::CLogger(std::string directory) : directory_(std::move(directory)), debugOutput_(writeWarningsToStandardError) {
    {
        std::lock_guard file(fileLock_);
        openFile();
    }
    writer_ = std::thread([this] { writerThread(); });
    log(LogLevel::Normal, "Starting Orvane...");
    log(LogLevel::Normal, "--------------------------------------------------------------------------");
}

CLogger::~CLogger() {
    log(LogLevel::Normal, "Orvane Terminate.");
    {
        std::lock_guard guard(queueLock_);
        stopping_ = true;
    }
    linesQueued_.notify_all();
    roomMade_.notify_all();
    writer_.join();
    std::lock_guard file(fileLock_);
    writeQueued();  // lines logged while the writer was ending
    if (file_) std::fclose(file_);
    file_ = nullptr;
}

CLogger::DebugOutput CLogger::setDebugOutput(DebugOutput output) {
    std::lock_guard guard(queueLock_);
    std::swap(debugOutput_, output);
    return output;
}

std::string CLogger::fileName() const {
    std::lock_guard file(fileLock_);
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
    thread_local std::string line;  // keeps its room: formatting a line allocates nothing
    try {
        startLine(line, level);
        const std::size_t prefixLength = line.size();
        line.resize(line.capacity() > prefixLength + 256 ? line.capacity() : prefixLength + 256);
        va_list first;
        va_copy(first, args);
        const int length = std::vsnprintf(line.data() + prefixLength, line.size() - prefixLength, format, first);
        va_end(first);
        if (length < 0) return;
        const std::size_t end = prefixLength + static_cast<std::size_t>(length);
        if (end >= line.size()) {  // never truncated: a longer line is formatted again into room of its size
            line.resize(end + 1);
            std::vsnprintf(line.data() + prefixLength, static_cast<std::size_t>(length) + 1, format, args);
        }
        line.resize(end);
        line.push_back('\n');
    } catch (const std::bad_alloc&) {
        return;  // a line that cannot be allocated is dropped
    }
    enqueue(line);
}

void CLogger::enqueue(std::string_view line) {
    bool wasEmpty = false;
    bool batchFull = false;
    {
        std::unique_lock guard(queueLock_);
        if (queue_.size() >= kQueueLimit && !stopping_) {
            ++waitingForRoom_;
            roomMade_.wait(guard, [this] { return queue_.size() < kQueueLimit || stopping_; });
            --waitingForRoom_;
        }
        if (debugOutput_) debugOutput_(line);
        wasEmpty = queue_.empty();
        queue_.append(line);
        batchFull = queue_.size() >= kBatchSize && queue_.size() - line.size() < kBatchSize;
    }
    if (wasEmpty || batchFull) linesQueued_.notify_one();
}

void CLogger::writerThread() {
    std::unique_lock guard(queueLock_);
    for (;;) {
        linesQueued_.wait(guard, [this] { return !queue_.empty() || stopping_; });
        if (queue_.empty()) return;  // stopping, and everything written
        // Gather what comes soon after, so a busy program writes in few, large writes.
        linesQueued_.wait_for(guard, Timing::scaled(intervals::kLogWriterGathering),
                              [this] { return queue_.size() >= kBatchSize || stopping_; });
        guard.unlock();
        {
            std::lock_guard file(fileLock_);
            writeQueued();
        }
        guard.lock();
    }
}

void CLogger::writeQueued() {
    bool roomWanted = false;
    {
        std::lock_guard guard(queueLock_);
        batch_.swap(queue_);
        queue_.clear();
        roomWanted = waitingForRoom_ > 0;
    }
    if (roomWanted) roomMade_.notify_all();
    if (batch_.empty()) return;
    if (!file_) openFile();
    if (file_) {  // without a file these lines reached only the debugger channel
        std::fwrite(batch_.data(), 1, batch_.size(), file_);
        std::fflush(file_);
    }
    batch_.clear();
}

bool CLogger::flush(std::chrono::milliseconds patience) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    std::unique_lock file(fileLock_, std::try_to_lock);
    while (!file.owns_lock()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        file.try_lock();
    }
    writeQueued();
    return true;
}

void logMessage(LogLevel level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    CLogger::getInstance()->vlog(level, format, args);
    va_end(args);
}
