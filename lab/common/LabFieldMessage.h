#pragma once

#include <string>
#include <string_view>
#include <vector>

// One field message "code,field^field^..." as the phone sends it. A text may also be the bare
// code ("58") or the code followed by "^" ("275^"); neither has fields.
struct LabFieldMessage {
    static constexpr int kNoCode = -1;

    int code = kNoCode;               // the leading decimal digits; kNoCode when the text has none
    std::vector<std::string> fields;  // the "^"-separated text after the first ","

    static LabFieldMessage parse(std::string_view text);
    // The fields from `first` on, joined again with "^" (a value that itself held "^").
    std::string fieldsFrom(std::size_t first) const;
};
