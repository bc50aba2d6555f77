#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// One element message "<NAME><KEY>value</KEY>...</NAME>" as the lab peers write and read it:
// children keep the order they were added in, a key may repeat, and a child's value is raw
// text up to its first closing tag (so it may itself hold elements).
class LabElement {
public:
    using Child = std::pair<std::string, std::string>;

    explicit LabElement(std::string name, std::vector<Child> children = {});

    LabElement& add(std::string key, std::string value);

    const std::string& name() const { return name_; }
    const std::vector<Child>& children() const { return children_; }
    // The first value of the key, or nothing when the key is absent.
    std::optional<std::string> value(std::string_view key) const;
    std::vector<std::string> values(std::string_view key) const;

    std::string toString() const;

    // Reads one element message, blanks, tabs and line feeds around it allowed. Nothing when
    // the root or a child is never closed or text follows the root.
    static std::optional<LabElement> parse(std::string_view text);

private:
    std::string name_;
    std::vector<Child> children_;
};
