#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The two words of a program file's version (see infra/VersionNote.h).
struct FileVersion {
    std::uint32_t mostSignificant = 0;
    std::uint32_t leastSignificant = 0;
};

// "%d.%d.%d.%d" when the low word is not zero, "%d.%d" from the high word when only it is set,
// empty when both are zero.
std::string versionText(FileVersion version);

// What a file on disk is, as far as running it here goes.
struct ProgramFileInfo {
    enum class Kind {
        Unreadable,      // cannot be opened
        NotElf,          // not an ELF file
        OtherMachine,    // ELF, but for another architecture, word size or byte order (or cut short)
        NotExecutable,   // ELF for this machine, but a library or an object file
        Executable,      // a program this machine can run
    };
    Kind kind = Kind::Unreadable;
    std::optional<FileVersion> version;  // the version note, when the file carries one
};

ProgramFileInfo inspectProgramFile(const std::string& path);
const char* describe(ProgramFileInfo::Kind kind);

// The version text of a program file for this machine carrying the version note; empty for any
// other file (no note, a zero version, not an executable for this machine, unreadable).
std::string readFileVersion(const std::string& path);

// The full path of the running program file.
std::string runningProgramPath();
