#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// A USB HID report descriptor, read only as far as a telephony headset needs: where the
// hook switch, mute and flash buttons lie in the input reports, and where the off-hook,
// ring and mute lights lie in the output reports.
namespace hid {

constexpr std::uint32_t usage(std::uint16_t page, std::uint16_t id) { return std::uint32_t{page} << 16 | id; }

inline constexpr std::uint16_t kTelephonyPage = 0x0B;
inline constexpr std::uint16_t kLedPage = 0x08;
inline constexpr std::uint32_t kHookSwitch = usage(kTelephonyPage, 0x20);
inline constexpr std::uint32_t kFlash = usage(kTelephonyPage, 0x21);
inline constexpr std::uint32_t kPhoneMute = usage(kTelephonyPage, 0x2F);
inline constexpr std::uint32_t kMuteLed = usage(kLedPage, 0x09);
inline constexpr std::uint32_t kOffHookLed = usage(kLedPage, 0x17);
inline constexpr std::uint32_t kRingLed = usage(kLedPage, 0x18);

inline constexpr std::size_t kLongestDescriptor = 4096;  // the kernel's own bound
inline constexpr std::size_t kLongestReport = 1024;      // bytes after the report id

}  // namespace hid

// One control a report carries as a value of its own (a variable field).
struct HidControlField {
    std::uint32_t usage = 0;  // page << 16 | id
    std::uint8_t reportId = 0;
    std::uint32_t bitOffset = 0;  // from the first byte after the report id
    std::uint8_t bitSize = 0;     // 1..32
    bool relative = false;        // reports changes (a press), not a level
};

// Slots of an array field: each holds the index of a control that is on, or a value outside
// the range for none.
struct HidArrayField {
    std::uint8_t reportId = 0;
    std::uint32_t bitOffset = 0;
    std::uint8_t bitSize = 0;
    std::uint32_t slots = 0;
    std::int32_t logicalMinimum = 0;
    std::vector<std::uint32_t> usages;  // by index; empty when a usage range names them
    std::uint32_t usageMinimum = 0;
    std::uint32_t usageMaximum = 0;
    // The control a slot's value names, or 0.
    std::uint32_t usageOf(std::int64_t value) const;
    bool names(std::uint32_t usage) const;
};

// The fields of a telephony headset's reports that the phone reads and writes.
struct HidReportLayout {
    bool numberedReports = false;  // every report starts with its report id
    std::vector<HidControlField> inputs;     // hook switch, mute, flash as values
    std::vector<HidArrayField> inputArrays;  // array fields that can name one of them
    std::vector<HidControlField> lights;     // off-hook, ring and mute lights
    std::vector<std::pair<std::uint8_t, std::uint32_t>> outputReportBits;  // each output report's length

    bool hasHookSwitch() const;
    std::uint32_t outputReportBitsOf(std::uint8_t reportId) const;
};

// Reads a report descriptor; nothing, with `error` saying why, when it is malformed or
// names reports longer than the phone reads.
std::optional<HidReportLayout> parseHidReportDescriptor(std::span<const std::uint8_t> descriptor, std::string& error);

// The unsigned value of `bitSize` bits at `bitOffset` of `bytes`, least significant first;
// nothing when the bits lie beyond the end.
std::optional<std::uint32_t> readHidBits(std::span<const std::uint8_t> bytes, std::uint32_t bitOffset,
                                         std::uint8_t bitSize);
