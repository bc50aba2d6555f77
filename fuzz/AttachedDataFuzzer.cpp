// The attached data of a distributed call: loading any text leaves a consistent list.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "cti/AttachedData.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    CallData call("T1", "555", text);
    const std::string written = call.toString();
    if (written.rfind("<MSG_TYPE_ADD_ATTACHED_DATA><TRACKNUM>T1</TRACKNUM>", 0) != 0) std::abort();
    for (const AttachedData& item : call.attachedData().items())
        if (item.type < AttachedData::StringData || item.type > AttachedData::Other) std::abort();
    return 0;
}
