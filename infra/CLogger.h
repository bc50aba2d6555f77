#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

// Severity of a log line; the value indexes the word written into the line.
enum class LogLevel : int { Normal = 0, Debug = 1, Error = 2, Warning = 3 };

// The one diagnostic log of the program: one time-stamped line per call, written to
// "Orvane.YYYY.MM.DD.hh.mm.ss.log" and mirrored to the debugger channel (standard error,
// warnings and errors only, unless replaced).
//
// Callers format their line and append it to a bounded queue; one writer thread puts the
// lines in the file, in the order they were queued, a batch at a time (what gathered within
// a few milliseconds of the first line), flushing after each. When the queue is full the
// logging thread waits for the writer to make room: no line is ever dropped and the memory
// stays bounded, and only a program that logs faster than the disk can write is slowed down
// to the disk's pace. Destruction writes every queued line before the file is closed.
class CLogger {
public:
    using DebugOutput = std::function<void(std::string_view line)>;
    // Bytes of formatted lines the queue holds before a logging thread waits for the writer.
    static constexpr std::size_t kQueueLimit = 4 << 20;
    // Bytes that make the writer write at once instead of gathering more.
    static constexpr std::size_t kBatchSize = 64 << 10;

    // The process-wide instance, created (file opened, start banner written) on first use, in
    // logFolder() (created when missing).
    static CLogger* getInstance();
    // Writes the terminate banner, writes out the queue, closes the file and forgets the instance.
    static void destroyInstance();
    // ORVANE_LOG_DIR when set, else the user's data folder: ~/.local/share/Brennic/Orvane/logs.
    static std::string logFolder();

    // Opens a new file named after the current time in `directory` (the current directory when empty).
    explicit CLogger(std::string directory = {});
    virtual ~CLogger();
    CLogger(const CLogger&) = delete;
    CLogger& operator=(const CLogger&) = delete;

    void log(LogLevel level, const char* format, ...) __attribute__((format(printf, 3, 4)));
    void vlog(LogLevel level, const char* format, va_list args) __attribute__((format(printf, 3, 0)));

    // Writes every line logged so far into the file, on the calling thread, before it returns:
    // for a crash handler about to take a dump. False when the file could not be had within
    // `patience` (a writer stuck in the middle of a write); the lines then stay queued.
    bool flush(std::chrono::milliseconds patience = std::chrono::seconds(1));

    // Replaces the debugger channel (standard error by default) and returns the one it
    // replaced; tests use it to watch the log. It receives every line, whatever its level.
    DebugOutput setDebugOutput(DebugOutput output);
    // Name of the open file, empty while none is open.
    std::string fileName() const;

private:
    void enqueue(std::string_view line);
    void writerThread();
    // Takes what is queued and writes it; the caller holds fileLock_.
    void writeQueued();
    void openFile();

    const std::string directory_;

    std::mutex queueLock_;                 // the queue and the debugger channel
    std::condition_variable linesQueued_;  // wakes the writer
    std::condition_variable roomMade_;     // wakes loggers waiting for a full queue
    std::string queue_;                    // whole lines, one after the other
    int waitingForRoom_ = 0;
    bool stopping_ = false;
    DebugOutput debugOutput_;

    mutable std::timed_mutex fileLock_;  // the file; held while a batch is taken and written
    std::FILE* file_ = nullptr;
    std::string fileName_;
    std::string batch_;  // the lines being written; keeps its room from batch to batch

    std::thread writer_;
};

// Same output as CLogger::log on the process-wide instance; usable as a plain function pointer.
void logMessage(LogLevel level, const char* format, ...) __attribute__((format(printf, 2, 3)));
