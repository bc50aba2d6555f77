#include "lab/switch/LabIaxDescription.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>
#include <utility>

#include "lab/switch/LabIaxProtocol.h"

namespace {

enum class Shape { Text, Number, Flag, Address, Bytes };

struct ElementName {
    std::uint8_t id;
    std::string_view name;
    Shape shape;
};

// In the order the line lists them.
constexpr std::array kElementNames = {
    ElementName{0x01, "called", Shape::Text},          ElementName{0x06, "username", Shape::Text},
    ElementName{0x02, "calling_number", Shape::Text},  ElementName{0x09, "format", Shape::Number},
    ElementName{0x08, "capability", Shape::Number},    ElementName{0x04, "calling_name", Shape::Text},
    ElementName{0x03, "calling_ani", Shape::Text},     ElementName{0x05, "context", Shape::Text},
    ElementName{0x0d, "dnid", Shape::Text},            ElementName{0x1c, "rdnis", Shape::Text},
    ElementName{0x0a, "language", Shape::Text},        ElementName{0x0b, "version", Shape::Number},
    ElementName{0x0e, "auth_methods", Shape::Number},  ElementName{0x0f, "challenge", Shape::Text},
    ElementName{0x10, "md5", Shape::Text},             ElementName{0x07, "password", Shape::Text},
    ElementName{0x11, "rsa", Shape::Text},             ElementName{0x13, "refresh", Shape::Number},
    ElementName{0x16, "cause", Shape::Text},           ElementName{0x2a, "cause_code", Shape::Number},
    ElementName{0x12, "apparent_address", Shape::Address}, ElementName{0x1a, "moh", Shape::Flag},
    ElementName{0x19, "autoanswer", Shape::Flag},      ElementName{0x1f, "datetime", Shape::Number},
    ElementName{0x0c, "adsicpe", Shape::Number},       ElementName{0x14, "dpstatus", Shape::Number},
    ElementName{0x15, "callno", Shape::Number},        ElementName{0x17, "iax_unknown", Shape::Number},
    ElementName{0x18, "msgcount", Shape::Number},      ElementName{0x1b, "transferid", Shape::Number},
    ElementName{0x26, "calling_pres", Shape::Number},  ElementName{0x27, "calling_ton", Shape::Number},
    ElementName{0x28, "calling_tns", Shape::Number},   ElementName{0x29, "sampling_rate", Shape::Number},
    ElementName{0x2b, "encryption", Shape::Number},    ElementName{0x2c, "enc_key", Shape::Bytes},
    ElementName{0x2d, "codec_prefs", Shape::Text},     ElementName{0x2e, "rr_jitter", Shape::Number},
    ElementName{0x2f, "rr_loss", Shape::Number},       ElementName{0x30, "rr_pkts", Shape::Number},
    ElementName{0x31, "rr_delay", Shape::Number},      ElementName{0x32, "rr_dropped", Shape::Number},
    ElementName{0x33, "rr_ooo", Shape::Number},        ElementName{0x34, "variable", Shape::Text},
    ElementName{0x35, "osp_token", Shape::Text},       ElementName{0x36, "calltoken", Shape::Text},
    ElementName{0x37, "capability2", Shape::Bytes},    ElementName{0x38, "format2", Shape::Bytes},
};

constexpr std::array<std::string_view, 41> kIaxNames = {
    "IAX-0",    "NEW",      "PING",     "PONG",     "ACK",     "HANGUP",    "REJECT",    "ACCEPT",     "AUTHREQ",
    "AUTHREP",  "INVAL",    "LAGRQ",    "LAGRP",    "REGREQ",  "REGAUTH",   "REGACK",    "REGREJ",     "REGREL",
    "VNAK",     "DPREQ",    "DPREP",    "DIAL",     "TXREQ",   "TXCNT",     "TXACC",     "TXREADY",    "TXREL",
    "TXREJ",    "QUELCH",   "UNQUELCH", "POKE",     "PAGE",    "MWI",       "UNSUPPORT", "TRANSFER",   "PROVISION",
    "FWDOWNL",  "FWDATA",   "TXMEDIA",  "RTKEY",    "CALLTOKEN"};

std::string_view controlName(std::uint32_t subclass) {
    switch (subclass) {
        case 0x01: return "CONTROL-HANGUP";
        case 0x03: return "RINGING";
        case 0x04: return "ANSWER";
        case 0x05: return "BUSY";
        case 0x08: return "CONGESTION";
        case 0x0e: return "FLASH";
        case 0x10: return "OPTION";
        case 0x11: return "KEY";
        case 0x12: return "UNKEY";
        case 0x13: return "PROGRESS";
        case 0x14: return "PROCEEDING";
        case 0x15: return "HOLD";
        case 0x16: return "UNHOLD";
        default: return {};
    }
}

std::string hex(std::string_view bytes) {
    std::string text;
    char pair[3];
    for (const char byte : bytes) {
        std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned char>(byte));
        text += pair;
    }
    return text;
}

std::string number(std::string_view bytes) {
    if (bytes.empty() || bytes.size() > 4) return hex(bytes);
    std::uint32_t value = 0;
    for (const char byte : bytes) value = value << 8 | static_cast<unsigned char>(byte);
    return std::to_string(value);
}

// A sockaddr_in as Asterisk sends it: family (host order), port, address, zeros.
std::string address(std::string_view bytes) {
    if (bytes.size() < 8) return hex(bytes);
    const auto byte = [&](std::size_t at) { return std::to_string(static_cast<unsigned char>(bytes[at])); };
    const unsigned port = static_cast<unsigned char>(bytes[2]) << 8 | static_cast<unsigned char>(bytes[3]);
    return byte(4) + "." + byte(5) + "." + byte(6) + "." + byte(7) + ":" + std::to_string(port);
}

std::string value(const ElementName& name, std::string_view data) {
    switch (name.shape) {
        case Shape::Text: return std::string(data);
        case Shape::Number: return number(data);
        case Shape::Address: return address(data);
        case Shape::Flag:
        case Shape::Bytes: break;
    }
    return hex(data);
}

std::string describeElements(const LabIaxElements& elements) {
    std::vector<std::pair<std::size_t, std::string>> parts;  // (rank, text)
    for (const auto& element : elements.all()) {
        const auto known = std::find_if(kElementNames.begin(), kElementNames.end(),
                                        [&](const ElementName& name) { return name.id == element.id; });
        if (known == kElementNames.end()) {
            parts.emplace_back(kElementNames.size() + element.id, "ie" + std::to_string(element.id) + "=" + hex(element.data));
            continue;
        }
        std::string text(known->name);
        if (known->shape != Shape::Flag || !element.data.empty()) text += "=" + value(*known, element.data);
        parts.emplace_back(static_cast<std::size_t>(known - kElementNames.begin()), std::move(text));
    }
    std::stable_sort(parts.begin(), parts.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::string line;
    for (const auto& [rank, text] : parts) line += " " + text;
    return line;
}

std::string textOf(const std::string& payload) { return payload.substr(0, payload.find('\0')); }

std::string digit(std::uint32_t subclass) {
    return subclass >= 0x20 && subclass < 0x7f ? std::string(1, static_cast<char>(subclass)) : std::to_string(subclass);
}

}  // namespace

std::string labIaxFrameName(const LabIaxFullFrame& frame) {
    using namespace labiax;
    switch (frame.type) {
        case frame::Iax:
            return frame.subclass < kIaxNames.size() ? std::string(kIaxNames[frame.subclass])
                                                     : "IAX-" + std::to_string(frame.subclass);
        case frame::Control: {
            const std::string_view name = controlName(frame.subclass);
            return name.empty() ? "CONTROL-" + std::to_string(frame.subclass) : std::string(name);
        }
        case frame::DtmfEnd: return "DTMF";
        case frame::DtmfBegin: return "DTMF-BEGIN";
        case frame::Voice: return "VOICE";
        case frame::Video: return "VIDEO";
        case frame::Null: return "NULL";
        case frame::Text: return "TEXT";
        case frame::Image: return "IMAGE";
        case frame::Html: return "HTML";
        case frame::ComfortNoise: return "CNG";
        default: return "TYPE-" + std::to_string(frame.type);
    }
}

std::string describeLabIaxFrame(const LabIaxFullFrame& frame) {
    using namespace labiax;
    const std::string name = labIaxFrameName(frame);
    switch (frame.type) {
        case frame::Iax: return name + describeElements(frame.elements());
        case frame::DtmfEnd:
        case frame::DtmfBegin: return name + " " + digit(frame.subclass);
        case frame::Voice:
        case frame::Video: return name + " format=" + std::to_string(frame.subclass);
        case frame::Text: return name + " " + textOf(frame.payload);
        case frame::Control:
        case frame::Null: return name;
        default: return name + " subclass=" + std::to_string(frame.subclass);
    }
}
