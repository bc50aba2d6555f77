#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Information elements, the payload of IAX frames: a list of (id, length, data).
namespace iax {

class ElementList {
public:
    // Nothing when an element runs past the end of the payload.
    static std::optional<ElementList> parse(std::span<const std::uint8_t> payload);

    bool has(std::uint8_t id) const { return find(id) != nullptr; }
    std::optional<std::string> text(std::uint8_t id) const;
    // Numbers are big-endian; an element of the wrong length counts as absent.
    std::optional<std::uint8_t> byte(std::uint8_t id) const;
    std::optional<std::uint16_t> u16(std::uint8_t id) const;
    std::optional<std::uint32_t> u32(std::uint8_t id) const;

private:
    struct Entry {
        std::uint8_t id;
        std::span<const std::uint8_t> data;  // a view into the frame
    };
    const Entry* find(std::uint8_t id) const;

    std::vector<Entry> entries_;
};

class ElementWriter {
public:
    // Texts longer than an element can hold (255 bytes) are cut.
    ElementWriter& text(std::uint8_t id, std::string_view value);
    ElementWriter& byte(std::uint8_t id, std::uint8_t value);
    ElementWriter& u16(std::uint8_t id, std::uint16_t value);
    ElementWriter& u32(std::uint8_t id, std::uint32_t value);
    ElementWriter& empty(std::uint8_t id);

    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

private:
    ElementWriter& raw(std::uint8_t id, const std::uint8_t* data, std::size_t size);

    std::vector<std::uint8_t> bytes_;
};

}  // namespace iax
