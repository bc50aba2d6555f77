#include "desktop/ScreenPopTitle.h"

#include <string_view>

#include "call/Call.h"

namespace {

constexpr const char* kTransferSent = "transfer:sent";

bool contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

}  // namespace

ScreenPopTitle ScreenPopTitle::read(const std::string& title) {
    ScreenPopTitle read;
    if (contains(title, "submit:required"))
        read.report = Report::SubmitRequired;
    else if (contains(title, "submit:sent"))
        read.report = Report::SubmitSent;
    else if (contains(title, kTransferSent))
        read.report = Report::TransferSent;
    if (read.report == Report::None || read.report == Report::SubmitRequired) return read;

    const auto clientEnd = title.find('-');
    if (clientEnd == std::string::npos) return read;
    const auto campaignEnd = title.find('-', clientEnd + 1);
    if (campaignEnd == std::string::npos) return read;
    const auto statusEnd = title.find('.', campaignEnd + 1);
    if (statusEnd == std::string::npos) return read;
    read.conform = true;
    read.client = title.substr(0, clientEnd);
    read.campaign = title.substr(clientEnd + 1, campaignEnd - clientEnd - 1);
    read.status = title.substr(campaignEnd + 1, statusEnd - campaignEnd - 1);
    if (read.report == Report::TransferSent) {
        const auto numberEnd = title.find('.', statusEnd + 1);
        read.transferNumber =
            numberEnd == std::string::npos ? title.substr(statusEnd + 1) : title.substr(statusEnd + 1, numberEnd - statusEnd - 1);
        // "SOLD.transfer:sent" names no number, and "SOLD.transfer:sent5551234" names 5551234:
        // the report's own text is never part of the number dialled.
        if (const auto marker = read.transferNumber.find(kTransferSent); marker != std::string::npos)
            read.transferNumber.erase(marker, std::string_view(kTransferSent).size());
    }
    return read;
}

void ScreenPopTitle::tagCall(Call& call) const {
    if (conform)
        call.tag(client, campaign, status);
    else
        call.untag();
}
