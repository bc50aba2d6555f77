#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// A fresh folder under the test's scratch folder, removed with its contents at the end.
class TempDir {
public:
    TempDir() {
        static int counter = 0;
        const char* base = std::getenv("ORVANE_TEST_WORKDIR");
        path_ = std::filesystem::path(base ? base : std::filesystem::temp_directory_path().string()) /
                ("tmp-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }

    std::vector<std::filesystem::path> files() const {
        std::vector<std::filesystem::path> found;
        for (const auto& entry : std::filesystem::directory_iterator(path_)) found.push_back(entry.path());
        return found;
    }

    static std::vector<std::string> readLines(const std::filesystem::path& file) {
        std::ifstream in(file);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

private:
    std::filesystem::path path_;
};
