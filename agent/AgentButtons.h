#pragma once

#include <string>

class AgentWindow;
class CImplementation;
struct LoginEntries;

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

private:
    void addToDialHistory(const std::string& number);

    CImplementation& core_;
    AgentWindow& window_;
};
