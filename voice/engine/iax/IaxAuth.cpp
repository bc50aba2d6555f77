#include "voice/engine/iax/IaxAuth.h"

#include <openssl/evp.h>

namespace iax {

std::string md5ChallengeResponse(std::string_view challenge, std::string_view secret) {
    const std::string input = std::string(challenge) + std::string(secret);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(input.data(), input.size(), digest, &length, EVP_md5(), nullptr) != 1) return {};
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex.push_back(kHex[digest[i] >> 4]);
        hex.push_back(kHex[digest[i] & 0xF]);
    }
    return hex;
}

}  // namespace iax
