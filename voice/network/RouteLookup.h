#pragma once

#include <optional>
#include <string>

#include "voice/network/NetlinkMessages.h"

// The kernel's route to `host` ("name" or "name:port"; looked up first, which may block):
// where datagrams to it would leave from now. Nothing when it cannot be found out (logged).
std::optional<netlink::RoutePath> lookUpRoute(const std::string& host);
