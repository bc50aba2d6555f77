#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

class AgentWindow;
class CImplementation;
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

    AgentButtons(CImplementation& core, AgentWindow& window);

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

    CImplementation& core_;
    AgentWindow& window_;
};
