#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The information elements of one IAX2 full frame: id, length, data, in the order they came
// or were added. A repeated id keeps every copy; lookups take the first.
class LabIaxElements {
public:
    static constexpr std::size_t kMaxDataBytes = 255;

    struct Element {
        std::uint8_t id = 0;
        std::string data;
    };

    // Data longer than kMaxDataBytes is cut to fit the length octet.
    LabIaxElements& add(std::uint8_t id, std::string_view data);
    LabIaxElements& addEmpty(std::uint8_t id) { return add(id, {}); }
    LabIaxElements& addU8(std::uint8_t id, std::uint8_t value);
    LabIaxElements& addU16(std::uint8_t id, std::uint16_t value);
    LabIaxElements& addU32(std::uint8_t id, std::uint32_t value);

    bool has(std::uint8_t id) const;
    std::optional<std::string> text(std::uint8_t id) const;
    // A numeric element of exactly 2 or 4 bytes, big-endian; nothing when absent or of another size.
    std::optional<std::uint16_t> u16(std::uint8_t id) const;
    std::optional<std::uint32_t> u32(std::uint8_t id) const;
    const std::vector<Element>& all() const { return elements_; }

    // A cause text with its cause code, as HANGUP, REJECT and REGREJ carry them.
    static LabIaxElements cause(const std::string& text, std::uint8_t code);

    std::string encode() const;
    // Nothing when an element runs past the end of the bytes.
    static std::optional<LabIaxElements> parse(std::string_view bytes);

private:
    const Element* find(std::uint8_t id) const;

    std::vector<Element> elements_;
};
