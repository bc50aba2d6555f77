#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

// A small directory scanner: the folders to look in, then the entries found there by pattern.
class CSADirRead {
public:
    struct FileEntry {
        std::string path;  // folder + "/" + name
        bool folder = false;
        unsigned attributes = 0;  // the mode bits
        std::time_t created = 0;  // status change time: the file system keeps no creation time
        std::time_t lastWrite = 0;
        std::uint64_t size = 0;
    };

    void clearFolders() { folders_.clear(); }
    void clearFiles() { files_.clear(); }
    // Adds `path` (and, when asked, every folder below it, depth first) to the folders to look in.
    void scanFolder(const std::string& path, bool withSubfolders);
    // Adds the entries of every listed folder whose name matches `pattern` ("*.wav"; letter
    // case ignored) and whose kind is wanted.
    void collectFiles(const std::string& pattern, bool takeFiles, bool takeFolders);
    // Smallest first.
    void sortFiles();
    const std::vector<FileEntry>& files() const { return files_; }

    // Removes a file; false, with a log line naming the cause, when it cannot.
    static bool removeFile(const std::string& path);
    // The cause number and description of a file error, as the log reports them.
    static int causeOf(int errnoValue);
    static const char* causeDescription(int cause);

private:
    void addSubfolders(const std::string& path);

    std::vector<std::string> folders_;
    std::vector<FileEntry> files_;
};
