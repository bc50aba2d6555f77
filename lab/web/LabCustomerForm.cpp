#include "lab/web/LabCustomerForm.h"

#include <cstdio>
#include <cstdlib>

#include "lab/common/LabHttp.h"

namespace {

std::string htmlEscaped(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        switch (c) {
        case '&': escaped += "&amp;"; break;
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        case '"': escaped += "&quot;"; break;
        case '\'': escaped += "&#39;"; break;
        default: escaped += c;
        }
    }
    return escaped;
}

// A JavaScript string literal holding `text`, safe inside a <script> element.
std::string scriptString(const std::string& text) {
    std::string literal = "\"";
    for (const unsigned char c : text) {
        if (c == '"' || c == '\\') {
            literal += '\\';
            literal += static_cast<char>(c);
        } else if (c < 0x20 || c == '<' || c == '>' || c == '&') {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            literal += escape;
        } else {
            literal += static_cast<char>(c);
        }
    }
    return literal + "\"";
}

}  // namespace

LabCustomerForm LabCustomerForm::fromRequest(const LabHttpRequest& request) {
    LabCustomerForm form;
    if (auto value = request.parameter("client")) form.client = *value;
    if (auto value = request.parameter("campaign")) form.campaign = *value;
    if (auto value = request.parameter("status")) form.status = *value;
    if (auto value = request.parameter("AGENT_ID")) form.agent = *value;
    if (auto value = request.parameter("submit-after"); value && !value->empty())
        form.submitAfterMs = std::strtol(value->c_str(), nullptr, 10);
    form.transferTo = request.parameter("transfer");
    return form;
}

std::string LabCustomerForm::submittedTitle() const {
    const std::string outcome = client + "-" + campaign + "-" + status;
    return transferTo ? outcome + "." + *transferTo + ".transfer:sent" : outcome + ".submit:sent";
}

std::string LabCustomerForm::html() const {
    const std::string after = submitAfterMs ? std::to_string(*submitAfterMs) : "null";
    const std::string transfer = transferTo ? scriptString(*transferTo) : "null";
    return R"(<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Lab CRM - customer case</title>
<style>body{font-family:sans-serif;margin:2em}label{display:block;margin:.4em 0}</style></head>
<body>
<h1>Customer case</h1>
<p>Agent <span id="agent">)" + htmlEscaped(agent) + R"(</span></p>
<form id="form">
<label>Client <input id="client" value=")" + htmlEscaped(client) + R"("></label>
<label>Campaign <input id="campaign" value=")" + htmlEscaped(campaign) + R"("></label>
<label>Outcome <input id="status" value=")" + htmlEscaped(status) + R"("></label>
<label>Transfer to <input id="number" value=")" + htmlEscaped(transferTo.value_or("")) + R"("></label>
<button type="submit" id="submit">Submit</button>
<button type="button" id="transfer">Submit and transfer</button>
</form>
<script>
const submitAfter = )" + after + R"(;
const transferTo = )" + transfer + R"(;
function field(id) { return document.getElementById(id).value; }
function outcome() { return field("client") + "-" + field("campaign") + "-" + field("status"); }
function send(kind) {
  const body = new URLSearchParams({kind: kind, client: field("client"), campaign: field("campaign"),
                                    status: field("status"), number: field("number")});
  fetch("/submit", {method: "POST", body: body}).catch(() => {});
}
function submitForm() { document.title = outcome() + ".submit:sent"; send("submit"); }
function transferCall() { document.title = outcome() + "." + field("number") + ".transfer:sent"; send("transfer"); }
document.getElementById("form").addEventListener("submit", (event) => { event.preventDefault(); submitForm(); });
document.getElementById("transfer").addEventListener("click", transferCall);
window.addEventListener("load", () => {
  document.title = "submit:required";
  if (submitAfter !== null) setTimeout(transferTo === null ? submitForm : transferCall, submitAfter);
});
</script>
</body></html>
)";
}
