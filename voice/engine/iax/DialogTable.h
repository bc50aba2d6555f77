#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "voice/engine/iax/IaxDialog.h"

namespace iax {

// Every dialog of the engine, by local call number.
class DialogTable {
public:
    explicit DialogTable(std::uint32_t seed);

    // A dialog on a free local call number; nullptr when all are taken.
    Dialog* open(const PeerAddress& peer, DialogOwner owner, Clock::time_point now);
    Dialog* find(std::uint16_t localCall);
    // The dialog that talks to `peer`'s call `peerCall`, a live one before an ended one.
    Dialog* findByPeer(const PeerAddress& peer, std::uint16_t peerCall);
    // Its owner is done: it lingers ownerless to finish its acknowledgements, then goes.
    void end(std::uint16_t localCall, Clock::time_point now);
    void forget(std::uint16_t localCall);
    int ownerless() const;

    // Resends what is due; returns the dialogs whose peer stopped answering.
    std::vector<Dialog*> retransmit(DatagramSender& out, Clock::time_point now);
    // Forgets ended dialogs that are settled and past their linger.
    void sweep(Clock::time_point now);
    // When retransmit() or sweep() has work next.
    std::optional<Clock::time_point> nextDue() const;

private:
    std::map<std::uint16_t, Dialog> dialogs_;
    std::uint16_t next_;
};

}  // namespace iax
