// Element messages from a CTI server or an applet: any text parses or is refused without
// harm, and what parses holds no more children than the text has tags. What the log shows of
// any text stays within its bound.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "wire/KVSet.h"
#include "wire/LoggedText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (loggedText(text).size() > kLoggedTextLimit + 3) std::abort();
    KVSet set;
    if (!set.parse(text)) return 0;
    const auto tags = static_cast<std::size_t>(std::count(text.begin(), text.end(), '<'));
    if (set.size() > tags) std::abort();
    if (set.toString().rfind("<" + set.getName() + ">", 0) != 0) std::abort();
    return 0;
}
