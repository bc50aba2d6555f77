#include "cti/AttachedData.h"

#include "wire/KVSet.h"

namespace {

// Consecutive top-level elements of a text: "<A>..</A><B>..</B>" gives both.
std::vector<std::string> splitElements(const std::string& text) {
    std::vector<std::string> elements;
    std::size_t at = 0;
    for (;;) {
        const auto open = text.find('<', at);
        const auto close = text.find('>', open);
        if (open == std::string::npos || close == std::string::npos) break;
        const std::string closingTag = "</" + text.substr(open + 1, close - open - 1) + ">";
        const auto end = text.find(closingTag, close);
        if (end == std::string::npos) {
            elements.push_back(text.substr(open));  // let the parser judge the rest
            break;
        }
        elements.push_back(text.substr(open, end + closingTag.size() - open));
        at = end + closingTag.size();
    }
    return elements;
}

}  // namespace

int AttachedData::typeFromText(const std::string& text) {
    if (text == "STRINGDATA") return StringData;
    if (text == "URL") return Url;
    if (text == "TEXTFILE") return TextFile;
    if (text == "BINARYFILE") return BinaryFile;
    return Other;
}

AttachedData AttachedData::parse(const std::string& text) {
    AttachedData record;
    KVSet element;
    if (!element.parse(text)) return record;
    record.key = element.getValue("KEY");
    record.value = element.getValue("VALUE");
    record.author = element.getValue("AUTHOR");
    record.type = typeFromText(element.getValue("TYPE"));
    record.readOnly = element.getValue("READ_ONLY") == "true";
    return record;
}

std::string AttachedData::toString() const {
    if (deleted) return {};
    return "<ATTACHED_DATA><KEY>" + key + "</KEY><VALUE>" + value + "</VALUE><AUTHOR>" + author +
           "</AUTHOR></ATTACHED_DATA>";
}

// The text is one element message, or several in a row (a message's EXTRADATA children, each
// holding ATTACHED_DATA elements); the items of all of them are kept.
void AttachedDataList::load(const std::string& text) {
    std::vector<AttachedData> records;
    for (const std::string& element : splitElements(text)) {
        KVSet message;
        message.parse(element);
        for (const std::string& value : message.getValues("ATTACHED_DATA"))
            records.push_back(AttachedData::parse("<ATTACHED_DATA>" + value + "</ATTACHED_DATA>"));
    }
    std::lock_guard guard(lock_);
    items_.clear();
    for (AttachedData& record : records) items_[record.key] = std::move(record);
}

std::string AttachedDataList::toString() const {
    std::lock_guard guard(lock_);
    std::string text;
    for (const auto& [key, record] : items_) text += record.toString();
    return text;
}

void AttachedDataList::clear() {
    std::lock_guard guard(lock_);
    items_.clear();
}

std::vector<AttachedData> AttachedDataList::items() const {
    std::lock_guard guard(lock_);
    std::vector<AttachedData> all;
    for (const auto& [key, record] : items_) all.push_back(record);
    return all;
}

void AttachedDataList::set(const AttachedData& item) {
    std::lock_guard guard(lock_);
    items_[item.key] = item;
}

bool AttachedDataList::callEnded() const {
    std::lock_guard guard(lock_);
    return callEnded_;
}

void AttachedDataList::setCallEnded(bool ended) {
    std::lock_guard guard(lock_);
    callEnded_ = ended;
}

CallData::CallData(std::string trackNumber, std::string ani, const std::string& extraData)
    : trackNumber_(std::move(trackNumber)), ani_(std::move(ani)) {
    attachedData_.load(extraData);
}

std::string CallData::toString() const {
    return "<MSG_TYPE_ADD_ATTACHED_DATA><TRACKNUM>" + trackNumber_ + "</TRACKNUM>" + attachedData_.toString() +
           "</MSG_TYPE_ADD_ATTACHED_DATA>";
}
