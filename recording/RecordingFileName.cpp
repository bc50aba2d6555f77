#include "recording/RecordingFileName.h"

#include <algorithm>

namespace {

std::string cutFromPlus(std::string name) {
    const auto plus = name.find('+');
    if (plus == std::string::npos) return name;
    const auto dot = name.find('.', plus);
    name.erase(plus, dot == std::string::npos ? std::string::npos : dot - plus);
    return name;
}

bool unfitForName(unsigned char c) { return c == '/' || c == '\\' || c < 0x20 || c == 0x7f; }

std::string fitForName(std::string name) {
    std::replace_if(name.begin(), name.end(), [](char c) { return unfitForName(static_cast<unsigned char>(c)); }, '_');
    if (!name.empty() && name.front() == '.') name.front() = '_';
    return name;
}

// Cuts the stem so the whole name fits, at a character boundary of UTF-8 text.
std::string bounded(const std::string& name) {
    if (name.size() <= kLongestRecordingName) return name;
    const auto dot = name.rfind('.');
    const std::string extension = dot == std::string::npos || name.size() - dot > 16 ? "" : name.substr(dot);
    std::size_t keep = kLongestRecordingName - extension.size();
    while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
    return name.substr(0, keep) + extension;
}

}  // namespace

std::string recordingFileName(const RecordingNameParts& parts) {
    std::string switchPart = parts.switchHost;
    std::replace(switchPart.begin(), switchPart.end(), '.', '-');
    const std::string name = parts.client + "." + parts.campaign + "." + parts.agentId + "." + parts.callTime + "." +
                             parts.ani + "." + switchPart + "." + parts.trackNumber + "." + parts.status + "." +
                             parts.extension;
    return bounded(fitForName(cutFromPlus(name)));
}
