#include "desktop/HeadsetDevice.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>

#include "infra/CLogger.h"

namespace {

bool lightOf(std::uint32_t usage, const HeadsetLights& lights) {
    if (usage == hid::kOffHookLed) return lights.offHook;
    if (usage == hid::kRingLed) return lights.ring;
    return usage == hid::kMuteLed && lights.mute;
}

}  // namespace

const char* headsetPressName(HeadsetPress press) {
    switch (press) {
    case HeadsetPress::OffHook: return "off-hook";
    case HeadsetPress::OnHook: return "on-hook";
    case HeadsetPress::HookPress: return "hook switch";
    case HeadsetPress::Mute: return "mute";
    case HeadsetPress::Flash: return "flash";
    }
    return "unknown";
}

HeadsetDevice::HeadsetDevice(int fd, std::string name, HidReportLayout layout)
    : fd_(fd), name_(std::move(name)), layout_(std::move(layout)) {}

HeadsetDevice::~HeadsetDevice() { ::close(fd_); }

bool HeadsetDevice::readPresses(std::vector<HeadsetPress>& presses) {
    std::uint8_t report[hid::kLongestReport + 1];
    const ssize_t size = ::read(fd_, report, sizeof report);
    if (size < 0 && (errno == EINTR || errno == EAGAIN)) return true;
    if (size < 0) {
        logMessage(LogLevel::Warning, "HeadsetDevice::readPresses(): Reading [%s] failed: %s", name_.c_str(),
                   std::strerror(errno));
        return false;
    }
    if (size == 0) return false;
    const std::vector<HeadsetPress> carried = decode({report, static_cast<std::size_t>(size)});
    presses.insert(presses.end(), carried.begin(), carried.end());
    return true;
}

std::vector<HeadsetPress> HeadsetDevice::decode(std::span<const std::uint8_t> report) {
    std::vector<HeadsetPress> presses;
    std::uint8_t reportId = 0;
    if (layout_.numberedReports) {
        if (report.empty()) return presses;
        reportId = report[0];
        report = report.subspan(1);
    }
    for (const HidControlField& field : layout_.inputs) {
        if (field.reportId != reportId) continue;
        const auto value = readHidBits(report, field.bitOffset, field.bitSize);
        if (value) pressesFromLevel(field.usage, *value != 0, field.relative, presses);
    }
    for (const auto& [usage, on] : levelsIn(reportId, report)) pressesFromLevel(usage, on, false, presses);
    return presses;
}

std::map<std::uint32_t, bool> HeadsetDevice::levelsIn(std::uint8_t reportId, std::span<const std::uint8_t> payload) const {
    std::map<std::uint32_t, bool> levels;
    for (const HidArrayField& field : layout_.inputArrays) {
        if (field.reportId != reportId) continue;
        // Every control the field can name is off unless a slot names it.
        for (std::uint32_t usage : {hid::kHookSwitch, hid::kPhoneMute, hid::kFlash})
            if (field.names(usage)) levels.try_emplace(usage, false);
        for (std::uint32_t slot = 0; slot < field.slots; ++slot) {
            const auto value = readHidBits(payload, field.bitOffset + slot * field.bitSize, field.bitSize);
            if (!value) break;
            const std::uint32_t usage = field.usageOf(*value);
            if (levels.count(usage)) levels[usage] = true;
        }
    }
    return levels;
}

void HeadsetDevice::pressesFromLevel(std::uint32_t usage, bool on, bool relative, std::vector<HeadsetPress>& presses) {
    if (relative) {
        // A relative control reports each press once.
        if (!on) return;
        if (usage == hid::kHookSwitch) presses.push_back(HeadsetPress::HookPress);
        if (usage == hid::kPhoneMute) presses.push_back(HeadsetPress::Mute);
        if (usage == hid::kFlash) presses.push_back(HeadsetPress::Flash);
        return;
    }
    bool& level = levels_[usage];  // a headset starts on the hook, its buttons released
    if (level == on) return;
    level = on;
    if (usage == hid::kHookSwitch) presses.push_back(on ? HeadsetPress::OffHook : HeadsetPress::OnHook);
    if (usage == hid::kPhoneMute && on) presses.push_back(HeadsetPress::Mute);
    if (usage == hid::kFlash && on) presses.push_back(HeadsetPress::Flash);
}

std::vector<std::uint8_t> HeadsetDevice::outputReport(std::uint8_t reportId, const HeadsetLights& lights) const {
    const std::size_t header = layout_.numberedReports ? 1 : 0;
    std::vector<std::uint8_t> report(header + (layout_.outputReportBitsOf(reportId) + 7) / 8, 0);
    if (header) report[0] = reportId;
    for (const HidControlField& light : layout_.lights) {
        if (light.reportId != reportId || !lightOf(light.usage, lights)) continue;
        const std::uint32_t bit = light.bitOffset;  // the light's lowest bit: a one-bit light, or 1 of a wider field
        report[header + bit / 8] = static_cast<std::uint8_t>(report[header + bit / 8] | (1u << (bit % 8)));
    }
    return report;
}

void HeadsetDevice::show(const HeadsetLights& lights) {
    if (layout_.lights.empty() || (lightsShown_ && lights == shown_)) return;
    std::set<std::uint8_t> reportIds;
    for (const HidControlField& light : layout_.lights) reportIds.insert(light.reportId);
    for (std::uint8_t reportId : reportIds) {
        const std::vector<std::uint8_t> report = outputReport(reportId, lights);
        if (::write(fd_, report.data(), report.size()) != static_cast<ssize_t>(report.size()))
            logMessage(LogLevel::Warning, "HeadsetDevice::show(): Writing the lights of [%s] failed: %s", name_.c_str(),
                       std::strerror(errno));
    }
    lightsShown_ = true;
    shown_ = lights;
}
