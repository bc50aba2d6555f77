#pragma once

#include <string>
#include <string_view>

// The MD5 digest of `text` as 32 lowercase hex digits (OpenSSL's libcrypto does the hashing).
std::string labMd5Hex(std::string_view text);
