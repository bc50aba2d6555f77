#pragma once

#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

// Severity of a log line; the value indexes the word written into the line.
enum class LogLevel : int { Normal = 0, Debug = 1, Error = 2, Warning = 3 };

// The one diagnostic log of the program: one time-stamped line per call, written to
// "Orvane.YYYY.MM.DD.hh.mm.ss.log" and flushed at once, and mirrored to the debugger
// channel (standard error unless replaced).
class CLogger {
public:
    using DebugOutput = std::function<void(std::string_view line)>;

    // The process-wide instance, created (file opened, start banner written) on first use.
    static CLogger* getInstance();
    // Writes the terminate banner, closes the file and forgets the instance.
    static void destroyInstance();

    // Opens a new file named after the current time in `directory` (the current directory when empty).
    explicit CLogger(std::string directory = {});
    virtual ~CLogger();
    CLogger(const CLogger&) = delete;
    CLogger& operator=(const CLogger&) = delete;

    void log(LogLevel level, const char* format, ...) __attribute__((format(printf, 3, 4)));
    void vlog(LogLevel level, const char* format, va_list args) __attribute__((format(printf, 3, 0)));

    // Replaces the debugger channel (standard error by default) and returns the one it
    // replaced; tests use it to watch the log.
    DebugOutput setDebugOutput(DebugOutput output);
    // Name of the open file, empty while none is open.
    std::string fileName() const;

private:
    void openFile();
    void writeLine(const std::string& line);

    const std::string directory_;
    mutable std::mutex lock_;
    std::FILE* file_ = nullptr;
    std::string fileName_;
    DebugOutput debugOutput_;
};

// Same output as CLogger::log on the process-wide instance; usable as a plain function pointer.
void logMessage(LogLevel level, const char* format, ...) __attribute__((format(printf, 2, 3)));
