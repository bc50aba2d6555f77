#pragma once

#include <string>
#include <string_view>

namespace iax {

// The answer to an MD5 challenge: the lower-case hex MD5 of the challenge followed by the secret.
std::string md5ChallengeResponse(std::string_view challenge, std::string_view secret);

}  // namespace iax
