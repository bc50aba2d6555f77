#pragma once

#include <optional>
#include <string>

struct LabHttpRequest;

// The customer form a CRM shows in the agent's screen pop, as the lab web server serves it.
// Its script reports through the page title, as the phone expects of a CRM page: "submit:required"
// once loaded, "<client>-<campaign>-<status>.submit:sent" on submit, and
// "<client>-<campaign>-<status>.<number>.transfer:sent" when the call is to be transferred.
// The submit also goes to the server (POST /submit), so the lab sees it arrive.
//
// Query parameters: client, campaign, status (the outcome), AGENT_ID (shown), submit-after=MS
// (the form submits by itself that long after loading) and transfer=NUMBER (the submit is a
// transfer; an empty number transfers nowhere).
struct LabCustomerForm {
    std::string client = "LabClient";
    std::string campaign = "LabCampaign";
    std::string status = "OK";
    std::string agent;
    std::optional<long> submitAfterMs;
    std::optional<std::string> transferTo;

    static LabCustomerForm fromRequest(const LabHttpRequest& request);
    std::string html() const;
    // The title the form sets when it submits.
    std::string submittedTitle() const;
};
