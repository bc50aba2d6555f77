#pragma once

#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <vector>

// The per-user folder of recordings kept for a later re-send and of local recordings:
// ORVANE_RECORDINGS_DIR when set, else the application data folder + "/recordings", created
// on demand. A file appears under its name only once it is complete. A recording that cannot
// be written is held in memory and offered to the next re-send run.
class RecordingStore {
public:
    struct Held {
        std::string name;
        std::vector<std::uint8_t> bytes;
    };

    // The folder now in use (tests point it elsewhere with useFolder()).
    static std::string folder();
    // Keeps the recordings in `folder` instead; an empty text goes back to the default.
    static void useFolder(const std::string& folder);

    // Writes a file under a temporary name and renames it into place; an existing recording of
    // the same name is kept and this one gets a "-N" before its extension. False, with the
    // cause logged, when it cannot be written.
    bool write(const std::string& name, std::span<const std::uint8_t> bytes);
    // Holds a recording that could not be written; it is written with the next recording that can be.
    void hold(std::string name, std::vector<std::uint8_t> bytes);
    // Takes the recordings held in memory.
    std::vector<Held> takeHeld();
    std::size_t heldCount() const;
    // Writes what is held in memory, keeping what still cannot be written.
    void writeHeld();

private:
    mutable std::mutex lock_;
    std::vector<Held> held_;
};
