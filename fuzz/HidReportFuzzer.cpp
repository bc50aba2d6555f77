// A headset's report descriptor and input reports, as a hostile device could send them: the
// descriptor is read or refused without harm, every field it yields lies inside its report,
// and any report decodes to at most a few presses per control. The lights it shows fit the
// output reports.
//
// Input: two bytes of descriptor length (little-endian), the descriptor, then reports, each
// preceded by its length byte.

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "desktop/HeadsetDevice.h"
#include "desktop/HidReportDescriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t descriptorSize = std::min<std::size_t>(data[0] | data[1] << 8, size - 2);
    std::string error;
    const auto layout = parseHidReportDescriptor(std::span(data + 2, descriptorSize), error);
    if (!layout) {
        if (error.empty()) std::abort();
        return 0;
    }
    for (const HidControlField& light : layout->lights)
        if (light.bitOffset + light.bitSize > layout->outputReportBitsOf(light.reportId)) std::abort();
    for (const auto& fields : {layout->inputs, layout->lights})
        for (const HidControlField& field : fields)
            if (field.bitSize == 0 || field.bitSize > 32 || field.bitOffset + field.bitSize > hid::kLongestReport * 8)
                std::abort();

    HeadsetDevice device(::open("/dev/null", O_RDWR | O_CLOEXEC), "fuzz", *layout);
    const std::size_t controls = layout->inputs.size() + 3 * layout->inputArrays.size();
    std::size_t at = 2 + descriptorSize;
    while (at < size) {
        const std::size_t length = std::min<std::size_t>(data[at], size - at - 1);
        const auto presses = device.decode(std::span(data + at + 1, length));
        if (presses.size() > 2 * controls) std::abort();
        device.show({(length & 1) != 0, (length & 2) != 0, (length & 4) != 0});
        at += 1 + length;
    }
    return 0;
}
