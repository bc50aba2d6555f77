#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// One item of data attached to a call.
struct AttachedData {
    enum Type : int { StringData = 0, Url = 1, TextFile = 2, BinaryFile = 3, Other = 4 };

    std::string key;
    std::string value;
    int type = Other;
    std::string author;
    bool deleted = false;   // withdrawn: writes nothing
    bool readOnly = true;   // the agent may not edit the value

    // From the text of one ATTACHED_DATA element; a text that does not parse leaves a new record.
    static AttachedData parse(const std::string& text);
    std::string toString() const;
    static int typeFromText(const std::string& text);
};

// The data attached to one call, by key, guarded by its own lock.
class AttachedDataList {
public:
    // Replaces the whole list from element messages whose children are ATTACHED_DATA elements.
    void load(const std::string& text);
    std::string toString() const;
    void clear();
    std::vector<AttachedData> items() const;
    void set(const AttachedData& item);

    // The CTI server has ended the call: the data can only be read.
    bool callEnded() const;
    void setCallEnded(bool ended);

private:
    mutable std::mutex lock_;
    std::map<std::string, AttachedData> items_;
    bool callEnded_ = false;
};

// The current call as the CTI server described it: its track number, ANI and attached data.
class CallData {
public:
    // `extraData`: the EXTRADATA children of the message, in element form.
    CallData(std::string trackNumber, std::string ani, const std::string& extraData);

    const std::string& trackNumber() const { return trackNumber_; }
    const std::string& ani() const { return ani_; }
    AttachedDataList& attachedData() { return attachedData_; }
    const AttachedDataList& attachedData() const { return attachedData_; }
    // The add-attached-data message body.
    std::string toString() const;

private:
    std::string trackNumber_;
    std::string ani_;
    AttachedDataList attachedData_;
};
