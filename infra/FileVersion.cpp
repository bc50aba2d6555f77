#include "infra/FileVersion.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <unistd.h>

#include "infra/VersionNote.h"

namespace {

#if defined(__x86_64__)
constexpr int kNativeMachine = EM_X86_64;
#elif defined(__aarch64__)
constexpr int kNativeMachine = EM_AARCH64;
#elif defined(__i386__)
constexpr int kNativeMachine = EM_386;
#else
#error "the native ELF machine of this architecture is not known"
#endif

constexpr unsigned char kNativeClass = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;
constexpr unsigned char kNativeByteOrder = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? ELFDATA2LSB : ELFDATA2MSB;
constexpr std::size_t kLongestNoteSegment = 1 << 16;  // real note segments hold a few hundred bytes
constexpr std::size_t kMostProgramHeaders = 256;

// Reads whole ranges of a file that may be anything (a download): every offset is checked.
class FileReader {
public:
    explicit FileReader(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~FileReader() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    bool isOpen() const { return fd_ >= 0; }

    bool read(void* out, std::size_t size, std::uint64_t offset) const {
        auto* bytes = static_cast<char*>(out);
        while (size > 0) {
            const ssize_t got = ::pread(fd_, bytes, size, static_cast<off_t>(offset));
            if (got <= 0) return false;
            bytes += got;
            size -= static_cast<std::size_t>(got);
            offset += static_cast<std::uint64_t>(got);
        }
        return true;
    }

private:
    int fd_;
};

std::size_t padded(std::size_t size, std::size_t alignment) { return (size + alignment - 1) / alignment * alignment; }

// Walks the notes of one note segment for ours.
std::optional<FileVersion> findVersionNote(const std::vector<char>& notes, std::size_t alignment) {
    std::size_t at = 0;
    while (at + sizeof(ElfW(Nhdr)) <= notes.size()) {
        ElfW(Nhdr) header;
        std::memcpy(&header, notes.data() + at, sizeof header);
        const std::size_t nameAt = at + sizeof header;
        const std::size_t descriptorAt = nameAt + padded(header.n_namesz, alignment);
        const std::size_t next = descriptorAt + padded(header.n_descsz, alignment);
        if (header.n_namesz > notes.size() || header.n_descsz > notes.size() || next > notes.size()) break;
        if (header.n_type == kVersionNoteType && header.n_namesz == sizeof kVersionNoteName &&
            header.n_descsz == 2 * sizeof(std::uint32_t) &&
            std::memcmp(notes.data() + nameAt, kVersionNoteName, sizeof kVersionNoteName) == 0) {
            FileVersion version;
            std::memcpy(&version.mostSignificant, notes.data() + descriptorAt, sizeof(std::uint32_t));
            std::memcpy(&version.leastSignificant, notes.data() + descriptorAt + 4, sizeof(std::uint32_t));
            return version;
        }
        at = next;
    }
    return std::nullopt;
}

}  // namespace

std::string versionText(FileVersion version) {
    char text[48];
    const unsigned high = version.mostSignificant;
    const unsigned low = version.leastSignificant;
    if (low != 0)
        std::snprintf(text, sizeof text, "%u.%u.%u.%u", high >> 16, high & 0xffff, low >> 16, low & 0xffff);
    else if (high != 0)
        std::snprintf(text, sizeof text, "%u.%u", high >> 16, high & 0xffff);
    else
        text[0] = '\0';
    return text;
}

ProgramFileInfo inspectProgramFile(const std::string& path) {
    ProgramFileInfo info;
    const FileReader file(path);
    if (!file.isOpen()) return info;
    ElfW(Ehdr) header;
    info.kind = ProgramFileInfo::Kind::NotElf;
    if (!file.read(header.e_ident, SELFMAG, 0) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0) return info;
    info.kind = ProgramFileInfo::Kind::OtherMachine;
    if (!file.read(&header, sizeof header, 0) || header.e_ident[EI_CLASS] != kNativeClass ||
        header.e_ident[EI_DATA] != kNativeByteOrder || header.e_machine != kNativeMachine)
        return info;
    info.kind = ProgramFileInfo::Kind::NotExecutable;
    if (header.e_phentsize != sizeof(ElfW(Phdr)) || header.e_phnum > kMostProgramHeaders) return info;

    std::vector<ElfW(Phdr)> segments(header.e_phnum);
    if (!segments.empty() && !file.read(segments.data(), segments.size() * sizeof(ElfW(Phdr)), header.e_phoff))
        return info;
    bool interpreted = false;
    for (const ElfW(Phdr)& segment : segments) interpreted = interpreted || segment.p_type == PT_INTERP;
    // A position-independent program is ET_DYN like a library; its loader request tells them apart.
    if (header.e_type != ET_EXEC && !(header.e_type == ET_DYN && interpreted)) return info;
    info.kind = ProgramFileInfo::Kind::Executable;

    for (const ElfW(Phdr)& segment : segments) {
        if (segment.p_type != PT_NOTE || segment.p_filesz > kLongestNoteSegment) continue;
        std::vector<char> notes(segment.p_filesz);
        if (!file.read(notes.data(), notes.size(), segment.p_offset)) continue;
        info.version = findVersionNote(notes, segment.p_align == 8 ? 8 : 4);
        if (info.version) break;
    }
    return info;
}

const char* describe(ProgramFileInfo::Kind kind) {
    switch (kind) {
    case ProgramFileInfo::Kind::Unreadable: return "cannot be read";
    case ProgramFileInfo::Kind::NotElf: return "is not an ELF file";
    case ProgramFileInfo::Kind::OtherMachine: return "is not an ELF file for this machine";
    case ProgramFileInfo::Kind::NotExecutable: return "is not an executable program";
    case ProgramFileInfo::Kind::Executable: return "is a program for this machine";
    }
    return "";
}

std::string readFileVersion(const std::string& path) {
    const ProgramFileInfo info = inspectProgramFile(path);
    if (info.kind != ProgramFileInfo::Kind::Executable || !info.version) return {};
    return versionText(*info.version);
}

std::string runningProgramPath() {
    char path[4096];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return {};
    return std::string(path, static_cast<std::size_t>(length));
}
