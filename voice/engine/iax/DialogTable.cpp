#include "voice/engine/iax/DialogTable.h"

#include <algorithm>

#include "infra/Timing.h"

namespace iax {
namespace {
// Call numbers are 15 bits; 0 means "none" and peers answer stateless requests from 1.
constexpr std::uint16_t kFirstCall = 2;
constexpr std::uint16_t kLastCall = 0x7FFF;
}  // namespace

DialogTable::DialogTable(std::uint32_t seed)
    : next_(static_cast<std::uint16_t>(kFirstCall + seed % (kLastCall - kFirstCall + 1))) {}

Dialog* DialogTable::open(const PeerAddress& peer, DialogOwner owner, Clock::time_point now) {
    for (int tries = 0; tries <= kLastCall; ++tries) {
        const std::uint16_t call = next_;
        next_ = next_ == kLastCall ? kFirstCall : static_cast<std::uint16_t>(next_ + 1);
        if (dialogs_.count(call)) continue;
        Dialog& dialog = dialogs_.try_emplace(call, call, peer, now).first->second;
        dialog.owner = owner;
        if (owner.kind == DialogOwner::Kind::None) dialog.lingerUntil = now + Timing::scaled(intervals::kIaxEndedCallLinger);
        return &dialog;
    }
    return nullptr;
}

Dialog* DialogTable::find(std::uint16_t localCall) {
    const auto found = dialogs_.find(localCall);
    return found == dialogs_.end() ? nullptr : &found->second;
}

Dialog* DialogTable::findByPeer(const PeerAddress& peer, std::uint16_t peerCall) {
    Dialog* ended = nullptr;  // a call number the peer may have handed out again
    for (auto& [call, dialog] : dialogs_) {
        if (dialog.peerCall() != peerCall || !(dialog.peer() == peer)) continue;
        if (dialog.owner.kind != DialogOwner::Kind::None) return &dialog;
        ended = &dialog;
    }
    return ended;
}

void DialogTable::end(std::uint16_t localCall, Clock::time_point now) {
    Dialog* dialog = find(localCall);
    if (!dialog) return;
    dialog->owner = {};
    dialog->lingerUntil = now + Timing::scaled(intervals::kIaxEndedCallLinger);
}

void DialogTable::forget(std::uint16_t localCall) { dialogs_.erase(localCall); }

int DialogTable::ownerless() const {
    return static_cast<int>(std::count_if(dialogs_.begin(), dialogs_.end(), [](const auto& entry) {
        return entry.second.owner.kind == DialogOwner::Kind::None;
    }));
}

std::vector<Dialog*> DialogTable::retransmit(DatagramSender& out, Clock::time_point now) {
    std::vector<Dialog*> silent;
    for (auto& [call, dialog] : dialogs_)
        if (!dialog.retransmit(out, now)) silent.push_back(&dialog);
    return silent;
}

void DialogTable::sweep(Clock::time_point now) {
    std::erase_if(dialogs_, [now](const auto& entry) {
        const Dialog& dialog = entry.second;
        return dialog.owner.kind == DialogOwner::Kind::None && dialog.settled() && now >= dialog.lingerUntil;
    });
}

std::optional<Clock::time_point> DialogTable::nextDue() const {
    std::optional<Clock::time_point> due;
    for (const auto& [call, dialog] : dialogs_) {
        due = earlier(due, dialog.nextDue());
        if (dialog.owner.kind == DialogOwner::Kind::None && dialog.settled()) due = earlier(due, dialog.lingerUntil);
    }
    return due;
}

}  // namespace iax
