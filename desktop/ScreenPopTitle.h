#pragma once

#include <string>

class Call;

// What a screen-pop page reports through its title. The first of these texts the title
// contains decides: "submit:required" (the form must be submitted before the agent goes on),
// "submit:sent" (submitted; the title reads client "-" campaign "-" status "." anything) and
// "transfer:sent" (submitted, and the call goes to the number after the status: client "-"
// campaign "-" status "." number "." anything). The browser's title watch and the local
// client's title reports read titles alike.
struct ScreenPopTitle {
    enum class Report { None, SubmitRequired, SubmitSent, TransferSent };

    Report report = Report::None;
    // The client-campaign-status layout was found; the three fields hold it, uncut.
    bool conform = false;
    std::string client;
    std::string campaign;
    std::string status;
    std::string transferNumber;  // "" when the title names none

    static ScreenPopTitle read(const std::string& title);

    // A conform title becomes the tags of the call's recording (status cut to 10 characters,
    // campaign and client to 100) and marks the call tagged; any other clears the mark.
    void tagCall(Call& call) const;
};
