#pragma once

#include <cstdint>

// The program's version, carried in the program file itself as an ELF note so that a copy on
// disk (a downloaded update, an installed file) can be asked for its version without running it.
// Two 32-bit words, as a file version: major << 16 | minor, then patch << 16 | tweak.
struct VersionNote {
    std::uint32_t nameSize;
    std::uint32_t descriptorSize;
    std::uint32_t type;
    char name[8];
    std::uint32_t mostSignificant;
    std::uint32_t leastSignificant;
};

inline constexpr char kVersionNoteName[] = "Orvane";
inline constexpr std::uint32_t kVersionNoteType = 1;

// Emits the note into the program being linked; used once per program (see orvane_version_note()
// in infra/CMakeLists.txt, which generates the one line that does it).
#define ORVANE_VERSION_NOTE(major, minor, patch, tweak)                                                  \
    __attribute__((section(".note.orvane.version"), used, aligned(4))) static const VersionNote         \
        orvaneVersionNote = {sizeof kVersionNoteName, 8, kVersionNoteType, {'O', 'r', 'v', 'a', 'n', 'e'}, \
                             (major) << 16 | (minor), (patch) << 16 | (tweak)};
