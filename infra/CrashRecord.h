#pragma once

#include <cstdint>

// What the crashing thread tells the dump helper: one fixed-size message over their socket (both
// ends are the same program file, so the layout matches). The helper answers with one byte when
// the dump is written.
struct CrashRecord {
    static constexpr std::uint32_t kMagic = 0x4f52444d;  // "ORDM"
    static constexpr int kMostRegisters = 40;

    std::uint32_t magic = kMagic;
    std::int32_t pid = 0;
    std::int32_t tid = 0;  // the crashing thread
    std::int32_t signal = 0;
    std::int32_t code = 0;  // si_code
    std::int64_t seconds = 0;  // wall-clock time of the crash
    std::int64_t nanoseconds = 0;
    std::uint64_t faultAddress = 0;
    std::int32_t registerCount = 0;
    std::uint64_t registers[kMostRegisters] = {};  // as in the thread's signal context, architecture order
};

// Names of the saved registers, in the order the signal context keeps them.
const char* const* crashRegisterNames(int& count);
