#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "infra/FileVersion.h"
#include "support/ChildProgram.h"
#include "support/TempDir.h"

namespace {

std::string bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string loadedLibrary(const std::string& name) {
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);)
        if (line.find(name) != std::string::npos) return line.substr(line.find('/'));
    return {};
}

}  // namespace

TEST(FileVersionTest, TextHasFourPartsUnlessTheLowWordIsZero) {
    EXPECT_EQ(versionText({0x00010002, 0x00030004}), "1.2.3.4");
    EXPECT_EQ(versionText({0x00030000, 0}), "3.0");
    EXPECT_EQ(versionText({0, 5}), "0.0.0.5");
    EXPECT_EQ(versionText({0, 0}), "");
    EXPECT_EQ(versionText({0xffffffff, 0xffffffff}), "65535.65535.65535.65535");
}

TEST(FileVersionTest, ProgramsCarryTheVersionTheyWereBuiltWith) {
    EXPECT_EQ(readFileVersion(UPDATE_PROBE), "2.5.0.1");
    EXPECT_EQ(readFileVersion(UPDATE_PROBE_TWO_PART), "3.0");
    EXPECT_EQ(readFileVersion(UPDATE_PROBE_ZERO), "");
    const ProgramFileInfo unversioned = inspectProgramFile(UPDATE_PROBE_UNVERSIONED);
    EXPECT_EQ(unversioned.kind, ProgramFileInfo::Kind::Executable);
    EXPECT_FALSE(unversioned.version);
    EXPECT_EQ(readFileVersion(UPDATE_PROBE_UNVERSIONED), "");

    ChildRun probe;
    probe.arguments = {UPDATE_PROBE};
    EXPECT_EQ(probe.run().output, "version 2.5.0.1\n");  // read from its own file while it runs
}

TEST(FileVersionTest, AnythingButAVersionedProgramForThisMachineHasNoVersion) {
    TempDir dir;
    const std::string program = bytesOf(UPDATE_PROBE);
    ASSERT_GT(program.size(), 4096u);

    writeBytes(dir.path() / "page.html", "<html>404 Not Found</html>");
    EXPECT_EQ(inspectProgramFile((dir.path() / "page.html").string()).kind, ProgramFileInfo::Kind::NotElf);
    EXPECT_EQ(inspectProgramFile((dir.path() / "missing").string()).kind, ProgramFileInfo::Kind::Unreadable);

    std::string otherMachine = program;
    otherMachine[18] = static_cast<char>(program[18] == 62 ? 183 : 62);  // e_machine: AArch64, or x86-64
    otherMachine[19] = 0;
    writeBytes(dir.path() / "other", otherMachine);
    EXPECT_EQ(inspectProgramFile((dir.path() / "other").string()).kind, ProgramFileInfo::Kind::OtherMachine);
    EXPECT_EQ(readFileVersion((dir.path() / "other").string()), "");

    const std::string library = loadedLibrary("libstdc++");
    ASSERT_FALSE(library.empty());
    EXPECT_EQ(inspectProgramFile(library).kind, ProgramFileInfo::Kind::NotExecutable);

    // Cut short, or with a note that claims more than the file holds: no version, no crash.
    writeBytes(dir.path() / "cut", program.substr(0, 200));
    EXPECT_EQ(readFileVersion((dir.path() / "cut").string()), "");
    std::string lying = program;
    const auto name = lying.find(std::string("Orvane\0", 7));
    ASSERT_NE(name, std::string::npos);
    std::fill_n(lying.begin() + static_cast<long>(name) - 12, 4, '\xff');
    writeBytes(dir.path() / "lying", lying);
    EXPECT_EQ(readFileVersion((dir.path() / "lying").string()), "");
}
