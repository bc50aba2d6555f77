#include "lab/switch/LabIaxElements.h"

#include "lab/switch/LabBytes.h"

LabIaxElements& LabIaxElements::add(std::uint8_t id, std::string_view data) {
    elements_.push_back({id, std::string(data.substr(0, kMaxDataBytes))});
    return *this;
}

LabIaxElements& LabIaxElements::addU8(std::uint8_t id, std::uint8_t value) {
    return add(id, std::string(1, static_cast<char>(value)));
}

LabIaxElements& LabIaxElements::addU16(std::uint8_t id, std::uint16_t value) {
    std::string bytes;
    labbytes::appendBig16(bytes, value);
    return add(id, bytes);
}

LabIaxElements& LabIaxElements::addU32(std::uint8_t id, std::uint32_t value) {
    std::string bytes;
    labbytes::appendBig32(bytes, value);
    return add(id, bytes);
}

bool LabIaxElements::has(std::uint8_t id) const { return find(id) != nullptr; }

std::optional<std::string> LabIaxElements::text(std::uint8_t id) const {
    const Element* element = find(id);
    if (!element) return std::nullopt;
    return element->data;
}

std::optional<std::uint16_t> LabIaxElements::u16(std::uint8_t id) const {
    const Element* element = find(id);
    if (!element || element->data.size() != 2) return std::nullopt;
    return labbytes::big16(element->data, 0);
}

std::optional<std::uint32_t> LabIaxElements::u32(std::uint8_t id) const {
    const Element* element = find(id);
    if (!element || element->data.size() != 4) return std::nullopt;
    return labbytes::big32(element->data, 0);
}

LabIaxElements LabIaxElements::cause(const std::string& text, std::uint8_t code) {
    constexpr std::uint8_t kCause = 0x16;
    constexpr std::uint8_t kCauseCode = 0x2a;
    LabIaxElements elements;
    elements.add(kCause, text).addU8(kCauseCode, code);
    return elements;
}

std::string LabIaxElements::encode() const {
    std::string bytes;
    for (const Element& element : elements_) {
        bytes += static_cast<char>(element.id);
        bytes += static_cast<char>(element.data.size());
        bytes += element.data;
    }
    return bytes;
}

std::optional<LabIaxElements> LabIaxElements::parse(std::string_view bytes) {
    LabIaxElements elements;
    while (!bytes.empty()) {
        if (bytes.size() < 2) return std::nullopt;
        const auto length = static_cast<unsigned char>(bytes[1]);
        if (bytes.size() < 2u + length) return std::nullopt;
        elements.elements_.push_back({static_cast<std::uint8_t>(bytes[0]), std::string(bytes.substr(2, length))});
        bytes.remove_prefix(2u + length);
    }
    return elements;
}

const LabIaxElements::Element* LabIaxElements::find(std::uint8_t id) const {
    for (const Element& element : elements_)
        if (element.id == id) return &element;
    return nullptr;
}
