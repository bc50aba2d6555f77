#include "voice/engine/iax/IaxElements.h"

#include <algorithm>

namespace iax {
namespace {
constexpr std::size_t kMaxElementData = 255;
}

std::optional<ElementList> ElementList::parse(std::span<const std::uint8_t> payload) {
    ElementList list;
    std::size_t at = 0;
    while (at < payload.size()) {
        if (payload.size() - at < 2) return std::nullopt;
        const std::uint8_t id = payload[at];
        const std::size_t length = payload[at + 1];
        at += 2;
        if (payload.size() - at < length) return std::nullopt;
        list.entries_.push_back({id, payload.subspan(at, length)});
        at += length;
    }
    return list;
}

const ElementList::Entry* ElementList::find(std::uint8_t id) const {
    const auto found = std::find_if(entries_.begin(), entries_.end(), [id](const Entry& e) { return e.id == id; });
    return found == entries_.end() ? nullptr : &*found;
}

std::optional<std::string> ElementList::text(std::uint8_t id) const {
    const Entry* entry = find(id);
    if (!entry) return std::nullopt;
    return std::string(entry->data.begin(), entry->data.end());
}

std::optional<std::uint8_t> ElementList::byte(std::uint8_t id) const {
    const Entry* entry = find(id);
    if (!entry || entry->data.size() != 1) return std::nullopt;
    return entry->data[0];
}

std::optional<std::uint16_t> ElementList::u16(std::uint8_t id) const {
    const Entry* entry = find(id);
    if (!entry || entry->data.size() != 2) return std::nullopt;
    return static_cast<std::uint16_t>(entry->data[0] << 8 | entry->data[1]);
}

std::optional<std::uint32_t> ElementList::u32(std::uint8_t id) const {
    const Entry* entry = find(id);
    if (!entry || entry->data.size() != 4) return std::nullopt;
    const auto& d = entry->data;
    return static_cast<std::uint32_t>(d[0]) << 24 | static_cast<std::uint32_t>(d[1]) << 16 |
           static_cast<std::uint32_t>(d[2]) << 8 | d[3];
}

ElementWriter& ElementWriter::raw(std::uint8_t id, const std::uint8_t* data, std::size_t size) {
    size = std::min(size, kMaxElementData);
    bytes_.push_back(id);
    bytes_.push_back(static_cast<std::uint8_t>(size));
    bytes_.insert(bytes_.end(), data, data + size);
    return *this;
}

ElementWriter& ElementWriter::text(std::uint8_t id, std::string_view value) {
    return raw(id, reinterpret_cast<const std::uint8_t*>(value.data()), value.size());
}

ElementWriter& ElementWriter::byte(std::uint8_t id, std::uint8_t value) { return raw(id, &value, 1); }

ElementWriter& ElementWriter::u16(std::uint8_t id, std::uint16_t value) {
    const std::uint8_t data[] = {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
    return raw(id, data, sizeof data);
}

ElementWriter& ElementWriter::u32(std::uint8_t id, std::uint32_t value) {
    const std::uint8_t data[] = {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
                                 static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
    return raw(id, data, sizeof data);
}

ElementWriter& ElementWriter::empty(std::uint8_t id) { return raw(id, nullptr, 0); }

}  // namespace iax
