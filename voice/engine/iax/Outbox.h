#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <variant>

#include "voice/engine/VoiceEngine.h"

class MediaEngine;

namespace iax {

// What the protocol side has for the world outside its lock: events for the program's
// callback and work for the media engine, in the order they arose. Filled under the
// engine's lock and drained after it is released.
class Outbox {
public:
    using MediaWork = std::function<void(MediaEngine&)>;
    using Item = std::variant<VoiceEvent, MediaWork>;

    void post(VoiceEvent event);
    void postResult(int callNo, int code, const std::string& message);
    void postText(int callNo, const std::string& message);
    void media(MediaWork work);

    std::optional<Item> take();
    bool empty() const { return items_.empty(); }

private:
    std::deque<Item> items_;
};

}  // namespace iax
