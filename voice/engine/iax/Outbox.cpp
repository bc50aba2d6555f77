#include "voice/engine/iax/Outbox.h"

#include <utility>

namespace iax {
namespace {
// Texts of an event are at most this long.
constexpr std::size_t kEventText = 255;

std::string cut(const std::string& text) { return text.substr(0, kEventText); }
}  // namespace

void Outbox::post(VoiceEvent event) {
    event.message = cut(event.message);
    event.remote = cut(event.remote);
    event.remoteName = cut(event.remoteName);
    event.local = cut(event.local);
    event.localContext = cut(event.localContext);
    items_.emplace_back(std::move(event));
}

void Outbox::postResult(int callNo, int code, const std::string& message) {
    VoiceEvent event;
    event.type = VoiceEvent::Result;
    event.callNo = callNo;
    event.resultCode = code;
    event.message = message;
    post(std::move(event));
}

void Outbox::postText(int callNo, const std::string& message) {
    VoiceEvent event;
    event.type = VoiceEvent::Text;
    event.callNo = callNo;
    event.textKind = 1;  // a status notice
    event.message = message;
    post(std::move(event));
}

void Outbox::media(MediaWork work) { items_.emplace_back(std::move(work)); }

std::optional<Outbox::Item> Outbox::take() {
    if (items_.empty()) return std::nullopt;
    Item item = std::move(items_.front());
    items_.pop_front();
    return item;
}

}  // namespace iax
