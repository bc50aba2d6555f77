#include "lab/switch/LabMd5.h"

#include <openssl/evp.h>

#include <cstdio>

std::string labMd5Hex(std::string_view text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr);
    std::string hex;
    char pair[3];
    for (unsigned int index = 0; index < length; ++index) {
        std::snprintf(pair, sizeof pair, "%02x", digest[index]);
        hex += pair;
    }
    return hex;
}
