#include "lab/switch/LabCallTokens.h"

#include <random>

#include "lab/switch/LabMd5.h"

LabCallTokens::LabCallTokens() : epoch_(Clock::now()) {
    std::random_device random;
    secret_ = std::to_string(random()) + std::to_string(random());
}

std::string LabCallTokens::issue(const LabUdpAddress& peer, Clock::time_point now) const {
    const auto stamp = std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(now - epoch_).count());
    return stamp + "?" + digest(stamp, peer);
}

bool LabCallTokens::valid(const std::string& token, const LabUdpAddress& peer, Clock::time_point now,
                          Clock::duration lifetime) const {
    const auto mark = token.find('?');
    if (mark == std::string::npos || mark == 0 || mark > 18) return false;
    const std::string stamp = token.substr(0, mark);
    if (stamp.find_first_not_of("0123456789") != std::string::npos) return false;
    if (token.substr(mark + 1) != digest(stamp, peer)) return false;
    const auto issued = epoch_ + std::chrono::milliseconds(std::stoll(stamp));
    return issued <= now && now - issued <= lifetime;
}

std::string LabCallTokens::digest(const std::string& stamp, const LabUdpAddress& peer) const {
    return labMd5Hex(secret_ + "|" + peer.toString() + "|" + stamp);
}
