#include "desktop/HidReportDescriptor.h"

#include <algorithm>
#include <map>

namespace {

constexpr std::size_t kDeepestCollection = 32;
constexpr std::size_t kDeepestPush = 8;
constexpr std::size_t kMostUsages = 256;  // local usages kept for one main item
constexpr std::uint64_t kLongestReportBits = hid::kLongestReport * 8;

enum ItemType : std::uint8_t { Main = 0, Global = 1, Local = 2 };
enum MainTag : std::uint8_t { Input = 8, Output = 9, Collection = 10, Feature = 11, EndCollection = 12 };
enum GlobalTag : std::uint8_t {
    UsagePage = 0,
    LogicalMinimum = 1,
    ReportSize = 7,
    ReportId = 8,
    ReportCount = 9,
    Push = 10,
    Pop = 11
};
enum LocalTag : std::uint8_t { Usage = 0, UsageMinimum = 1, UsageMaximum = 2 };
enum MainFlag : std::uint32_t { Constant = 1, Variable = 2, Relative = 4 };

struct Globals {
    std::uint16_t usagePage = 0;
    std::int32_t logicalMinimum = 0;
    std::uint32_t reportSize = 0;
    std::uint8_t reportId = 0;
    std::uint32_t reportCount = 0;
};

// A usage as written: four data bytes carry their own page, shorter ones take the page in
// force when the main item comes.
struct WrittenUsage {
    std::uint32_t value = 0;
    bool extended = false;
    std::uint32_t resolve(std::uint16_t page) const { return extended ? value : hid::usage(page, value & 0xFFFF); }
};

struct Locals {
    std::vector<WrittenUsage> usages;
    std::optional<WrittenUsage> minimum;
    std::optional<WrittenUsage> maximum;
};

constexpr std::uint32_t kInputUsages[] = {hid::kHookSwitch, hid::kPhoneMute, hid::kFlash};

bool wantedInput(std::uint32_t usage) {
    return std::find(std::begin(kInputUsages), std::end(kInputUsages), usage) != std::end(kInputUsages);
}
bool wantedLight(std::uint32_t usage) {
    return usage == hid::kOffHookLed || usage == hid::kRingLed || usage == hid::kMuteLed;
}

class DescriptorReader {
public:
    std::optional<HidReportLayout> read(std::span<const std::uint8_t> bytes, std::string& error);

private:
    bool item(std::uint8_t tag, std::uint8_t type, std::uint32_t data, std::size_t size, std::string& error);
    bool mainItem(std::uint8_t tag, std::uint32_t flags, std::string& error);
    bool globalItem(std::uint8_t tag, std::uint32_t data, std::size_t size, std::string& error);
    void localItem(std::uint8_t tag, std::uint32_t data, std::size_t size);
    bool field(bool input, std::uint32_t flags, std::string& error);
    std::vector<std::uint32_t> resolvedUsages() const;

    HidReportLayout layout_;
    Globals globals_;
    std::vector<Globals> pushed_;
    Locals locals_;
    std::size_t collectionDepth_ = 0;
    std::map<std::pair<bool, std::uint8_t>, std::uint64_t> reportBits_;  // (input, id) -> bits so far
};

std::optional<HidReportLayout> DescriptorReader::read(std::span<const std::uint8_t> bytes, std::string& error) {
    if (bytes.size() > hid::kLongestDescriptor) {
        error = "descriptor of " + std::to_string(bytes.size()) + " bytes";
        return std::nullopt;
    }
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::uint8_t prefix = bytes[at];
        if (prefix == 0xFE) {  // a long item: nothing a headset's controls use
            if (at + 1 >= bytes.size()) {
                error = "long item cut short";
                return std::nullopt;
            }
            at += 3 + std::size_t{bytes[at + 1]};
            continue;
        }
        const std::size_t size = (prefix & 3) == 3 ? 4 : (prefix & 3);
        if (at + 1 + size > bytes.size()) {
            error = "item cut short at byte " + std::to_string(at);
            return std::nullopt;
        }
        std::uint32_t data = 0;
        for (std::size_t i = 0; i < size; ++i) data |= std::uint32_t{bytes[at + 1 + i]} << (8 * i);
        if (!item(static_cast<std::uint8_t>(prefix >> 4), static_cast<std::uint8_t>((prefix >> 2) & 3), data, size,
                  error))
            return std::nullopt;
        at += 1 + size;
    }
    if (at > bytes.size()) {
        error = "long item cut short";
        return std::nullopt;
    }
    for (const auto& [key, bits] : reportBits_)
        if (!key.first) layout_.outputReportBits.emplace_back(key.second, static_cast<std::uint32_t>(bits));
    return layout_;
}

bool DescriptorReader::item(std::uint8_t tag, std::uint8_t type, std::uint32_t data, std::size_t size,
                            std::string& error) {
    switch (type) {
    case Main: return mainItem(tag, data, error);
    case Global: return globalItem(tag, data, size, error);
    case Local: localItem(tag, data, size); return true;
    default: return true;  // reserved
    }
}

bool DescriptorReader::mainItem(std::uint8_t tag, std::uint32_t flags, std::string& error) {
    bool ok = true;
    switch (tag) {
    case Input: ok = field(true, flags, error); break;
    case Output: ok = field(false, flags, error); break;
    case Feature: break;  // feature reports are not read
    case Collection:
        if (++collectionDepth_ > kDeepestCollection) {
            error = "collections nested too deep";
            ok = false;
        }
        break;
    case EndCollection:
        if (collectionDepth_ == 0) {
            error = "end of a collection never opened";
            ok = false;
        } else {
            --collectionDepth_;
        }
        break;
    default: break;
    }
    locals_ = {};
    return ok;
}

bool DescriptorReader::globalItem(std::uint8_t tag, std::uint32_t data, std::size_t size, std::string& error) {
    switch (tag) {
    case UsagePage: globals_.usagePage = static_cast<std::uint16_t>(data); break;
    case LogicalMinimum: {
        // Signed, in as many bytes as the item carries.
        const unsigned shift = size == 0 ? 0 : static_cast<unsigned>(32 - 8 * size);
        globals_.logicalMinimum = size == 0 ? 0 : static_cast<std::int32_t>(data << shift) >> shift;
        break;
    }
    case ReportSize: globals_.reportSize = data; break;
    case ReportCount: globals_.reportCount = data; break;
    case ReportId:
        if (data == 0 || data > 0xFF) {
            error = "report id " + std::to_string(data);
            return false;
        }
        globals_.reportId = static_cast<std::uint8_t>(data);
        layout_.numberedReports = true;
        break;
    case Push:
        if (pushed_.size() >= kDeepestPush) {
            error = "global items pushed too deep";
            return false;
        }
        pushed_.push_back(globals_);
        break;
    case Pop:
        if (pushed_.empty()) {
            error = "pop without a push";
            return false;
        }
        globals_ = pushed_.back();
        pushed_.pop_back();
        break;
    default: break;
    }
    return true;
}

void DescriptorReader::localItem(std::uint8_t tag, std::uint32_t data, std::size_t size) {
    const WrittenUsage written{data, size == 4};
    if (tag == Usage && locals_.usages.size() < kMostUsages) locals_.usages.push_back(written);
    if (tag == UsageMinimum) locals_.minimum = written;
    if (tag == UsageMaximum) locals_.maximum = written;
}

std::vector<std::uint32_t> DescriptorReader::resolvedUsages() const {
    std::vector<std::uint32_t> usages;
    for (const WrittenUsage& written : locals_.usages) usages.push_back(written.resolve(globals_.usagePage));
    return usages;
}

bool DescriptorReader::field(bool input, std::uint32_t flags, std::string& error) {
    if (layout_.numberedReports && globals_.reportId == 0) {
        error = "a report without an id among numbered reports";
        return false;
    }
    std::uint64_t& bits = reportBits_[{input, globals_.reportId}];
    const std::uint64_t offset = bits;
    bits += std::uint64_t{globals_.reportSize} * globals_.reportCount;
    if (bits > kLongestReportBits) {
        error = "report " + std::to_string(globals_.reportId) + " longer than " + std::to_string(hid::kLongestReport) +
                " bytes";
        return false;
    }
    if ((flags & Constant) || globals_.reportSize == 0 || globals_.reportSize > 32) return true;
    const auto size = static_cast<std::uint8_t>(globals_.reportSize);
    const std::vector<std::uint32_t> usages = resolvedUsages();
    const std::uint32_t rangeMinimum = locals_.minimum ? locals_.minimum->resolve(globals_.usagePage) : 0;
    const std::uint32_t rangeMaximum = locals_.maximum ? locals_.maximum->resolve(globals_.usagePage) : 0;
    const bool hasRange = locals_.minimum && locals_.maximum && rangeMinimum <= rangeMaximum;

    if (!(flags & Variable)) {
        if (!input) return true;
        const bool named = std::any_of(usages.begin(), usages.end(), wantedInput) ||
                           (usages.empty() && hasRange &&
                            std::any_of(std::begin(kInputUsages), std::end(kInputUsages),
                                        [&](std::uint32_t u) { return u >= rangeMinimum && u <= rangeMaximum; }));
        if (named)
            layout_.inputArrays.push_back({globals_.reportId, static_cast<std::uint32_t>(offset), size,
                                           globals_.reportCount, globals_.logicalMinimum, usages, rangeMinimum,
                                           rangeMaximum});
        return true;
    }
    for (std::uint32_t i = 0; i < globals_.reportCount; ++i) {
        std::uint32_t usage = 0;
        if (!usages.empty())
            usage = usages[std::min<std::size_t>(i, usages.size() - 1)];
        else if (hasRange && i <= rangeMaximum - rangeMinimum)
            usage = rangeMinimum + i;
        if (input ? !wantedInput(usage) : !wantedLight(usage)) continue;
        const HidControlField control{usage, globals_.reportId, static_cast<std::uint32_t>(offset + std::uint64_t{i} * size),
                                      size, (flags & Relative) != 0};
        (input ? layout_.inputs : layout_.lights).push_back(control);
    }
    return true;
}

}  // namespace

std::uint32_t HidArrayField::usageOf(std::int64_t value) const {
    const std::int64_t index = value - logicalMinimum;
    if (index < 0) return 0;
    if (!usages.empty()) return static_cast<std::size_t>(index) < usages.size() ? usages[static_cast<std::size_t>(index)] : 0;
    if (usageMaximum < usageMinimum || index > std::int64_t{usageMaximum} - usageMinimum) return 0;
    return usageMinimum + static_cast<std::uint32_t>(index);
}

bool HidArrayField::names(std::uint32_t usage) const {
    if (!usages.empty()) return std::find(usages.begin(), usages.end(), usage) != usages.end();
    return usage >= usageMinimum && usage <= usageMaximum;
}

bool HidReportLayout::hasHookSwitch() const {
    const auto isHook = [](const HidControlField& field) { return field.usage == hid::kHookSwitch; };
    const auto namesHook = [](const HidArrayField& field) { return field.names(hid::kHookSwitch); };
    return std::any_of(inputs.begin(), inputs.end(), isHook) ||
           std::any_of(inputArrays.begin(), inputArrays.end(), namesHook);
}

std::uint32_t HidReportLayout::outputReportBitsOf(std::uint8_t reportId) const {
    for (const auto& [id, bits] : outputReportBits)
        if (id == reportId) return bits;
    return 0;
}

std::optional<HidReportLayout> parseHidReportDescriptor(std::span<const std::uint8_t> descriptor, std::string& error) {
    return DescriptorReader().read(descriptor, error);
}

std::optional<std::uint32_t> readHidBits(std::span<const std::uint8_t> bytes, std::uint32_t bitOffset,
                                         std::uint8_t bitSize) {
    if (bitSize == 0 || bitSize > 32 || std::uint64_t{bitOffset} + bitSize > std::uint64_t{bytes.size()} * 8)
        return std::nullopt;
    std::uint32_t value = 0;
    for (std::uint32_t i = 0; i < bitSize; ++i) {
        const std::uint32_t bit = bitOffset + i;
        if (bytes[bit / 8] >> (bit % 8) & 1) value |= std::uint32_t{1} << i;
    }
    return value;
}
