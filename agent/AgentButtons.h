#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/AgentWindow.h"

class AgentStatus;
class Call;
class LineControl;
class OutboundMessages;
class StoredSettings;
class WrapUpChecker;
struct AgentProfile;
struct CtiSession;
struct LoginEntries;

// One row of the attached data window: a key, its value and whether the value is fixed.
struct AttachedDataRow {
    std::string key;
    std::string value;
    bool readOnly = false;
    bool operator==(const AttachedDataRow&) const = default;
};

// What the attached data window shows of the current call.
struct AttachedDataView {
    std::vector<AttachedDataRow> rows;  // in key order, withdrawn records left out
    bool callEnded = false;             // the call is over: nothing may be changed
};

// What the main window's buttons and menus do, for any window that shows them (the Qt
// window, the headless phone, the tests): each turns a click into calls of the agent core
// or into state-machine events.
class AgentButtons {
public:
    static constexpr int kFirstReasonCommand = 33791;
    static constexpr int kLastReasonCommand = 33855;

    // What the buttons ask of the agent core itself.
    class Agent {
    public:
        // Connects to the CTI server with the stored host and port and logs the agent in.
        virtual void doAgentLogin() = 0;
        virtual void requestLogout(const std::string& reason) = 0;
        virtual void clickReady() = 0;
        virtual void doWaitforCleanClose() = 0;
        virtual void QueuePhoneEvent(int event) = 0;
        virtual void showTicker(const TickerText& text) = 0;
        virtual void dial(const std::string& number, const std::string& trackNumber) = 0;
        virtual void dialPreview(const std::string& number) = 0;
        // The reasons offered in the not-ready menu, by command id 33791 + position.
        virtual std::vector<std::string> notReadyReasons() const = 0;

    protected:
        ~Agent() = default;
    };

    // The services the buttons use.
    struct Services {
        Agent& agent;
        OutboundMessages& outbound;
        AgentStatus& status;
        LineControl& lines;
        WrapUpChecker& wrapUp;
        Call& call;
        AgentProfile& profile;
        CtiSession& session;  // the current call's attached data
        StoredSettings& stored;
    };

    AgentButtons(Services services, AgentWindow& window);

    // Login with the dialog's entries confirmed; false when they are not valid.
    bool OnBnClickedButtonLogin(const LoginEntries& entries);
    void OnBnClickedButtonLogout();
    void OnBnClickedButtonReady();
    void OnBnClickedButtonNotReady();
    void OnBnClickedButtonHangup();
    void OnBnClickedButtonDial();
    // The CTI server allowed a manual dial (or the state needs no permission): run the dial pad.
    void showDialPad();
    // The preview dial window, for the number the server offered.
    void showPreviewDial();
    // A reason chosen from the not-ready menu (command 33791 and up).
    void OnNotReadyReasonChosen(int command);
    void OnBnClickedButtonClose();

    // The current call's attached data as the attached data window shows it; none without a call.
    std::optional<AttachedDataView> attachedData();
    // Save of the attached data window: each (key, value) row written into the current call's
    // attached data, except empty keys and the untouched "Key"/"Value" rows of Add; then sent.
    void OnBnClickedButtonSaveAttachedData(const std::vector<std::pair<std::string, std::string>>& rows);

private:
    void addToDialHistory(const std::string& number);

    Services services_;
    AgentWindow& window_;
};
