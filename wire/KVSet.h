#pragma once

#include <map>
#include <string>
#include <vector>

// One element message: a root name and a flat run of key/value children, kept in key order
// (equal keys in the order added), written and parsed without any escaping:
// <NAME><KEY>value</KEY>...</NAME>. A child's value may itself be a run of elements.
class KVSet {
public:
    KVSet() = default;
    explicit KVSet(std::string name) : name_(std::move(name)) {}

    void setName(const std::string& name) { name_ = name; }
    const std::string& getName() const { return name_; }

    void add(const std::string& key, const std::string& value) { entries_.emplace(key, value); }
    void remove(const std::string& key) { entries_.erase(key); }
    // The first value of `key`, or "" when there is none.
    std::string getValue(const std::string& key) const;
    std::vector<std::string> getValues(const std::string& key) const;
    std::size_t size() const { return entries_.size(); }
    void clear();

    std::string toString() const;
    // Every child named `key` in element form, without the root.
    std::string toString(const std::string& key) const;
    // Adds the children of an element message; false (set unchanged) when it is not one.
    bool parse(const std::string& text);

    static bool isValid(const std::string& text, bool top);

private:
    std::string name_ = "XML";
    std::multimap<std::string, std::string> entries_;
};
