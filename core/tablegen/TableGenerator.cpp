// Builds the agent state machine's constant tables from the readable description in
// agent_machine.txt, and checks the description on the way: every name known, no cell
// given twice, and the size limits of the table layout.
//
// usage: orvane_tablegen <agent_machine.txt> <output directory>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int kVectorSlots = 22;
constexpr int kEmptyVector = 10;

struct Action {
    std::string name;
    std::string operation;
    bool screen = false;  // served by the screen state's own ScreenActions
};

struct Transition {
    int state = 0;
    int event = 0;
    int nextState = 0;
    std::vector<int> actions;
};

struct Machine {
    std::vector<std::string> states;
    std::vector<std::string> events;
    std::vector<Action> actions;
    std::vector<Transition> transitions;
};

[[noreturn]] void fail(int lineNumber, const std::string& message) {
    throw std::runtime_error("line " + std::to_string(lineNumber) + ": " + message);
}

std::string trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::string identifier(const std::string& name) {
    std::string result;
    for (char c : name)
        if (c != '-') result += c;
    return result;
}

int indexOf(const std::vector<std::string>& names, const std::string& name, int lineNumber, const char* kind) {
    const auto it = std::find(names.begin(), names.end(), name);
    if (it == names.end()) fail(lineNumber, std::string("unknown ") + kind + " \"" + name + "\"");
    return static_cast<int>(it - names.begin());
}

int actionIndex(const Machine& machine, const std::string& name, int lineNumber) {
    for (std::size_t i = 0; i < machine.actions.size(); ++i)
        if (machine.actions[i].name == name) return static_cast<int>(i);
    fail(lineNumber, "unknown action \"" + name + "\"");
}

void parseTransition(Machine& machine, int state, const std::string& line, int lineNumber) {
    const auto arrow = line.find(" -> ");
    const auto colon = line.find(':', arrow == std::string::npos ? 0 : arrow);
    if (arrow == std::string::npos || colon == std::string::npos) fail(lineNumber, "expected \"Event -> State: actions\"");
    Transition transition;
    transition.state = state;
    transition.event = indexOf(machine.events, trim(line.substr(0, arrow)), lineNumber, "event");
    const std::string next = trim(line.substr(arrow + 4, colon - arrow - 4));
    transition.nextState = next == "stays" ? state : indexOf(machine.states, next, lineNumber, "state");
    const std::string actions = trim(line.substr(colon + 1));
    if (actions != "no action") {
        std::stringstream list(actions);
        std::string name;
        while (std::getline(list, name, ',')) transition.actions.push_back(actionIndex(machine, trim(name), lineNumber));
    }
    for (const Transition& other : machine.transitions)
        if (other.state == state && other.event == transition.event) fail(lineNumber, "cell given twice");
    machine.transitions.push_back(std::move(transition));
}

Machine parse(std::istream& input) {
    Machine machine;
    std::string section;
    int state = -1;
    std::set<int> headers;
    int lineNumber = 0;
    for (std::string raw; std::getline(input, raw);) {
        ++lineNumber;
        const std::string line = trim(raw);
        if (line.empty() || line[0] == '#') continue;
        if (line == "states:" || line == "events:" || line == "actions:" || line == "transitions:") {
            section = line;
            continue;
        }
        if (section == "states:") {
            machine.states.push_back(line);
        } else if (section == "events:") {
            machine.events.push_back(line);
        } else if (section == "actions:") {
            std::stringstream fields(line);
            Action action;
            if (!(fields >> action.name >> action.operation)) fail(lineNumber, "expected \"Action-Name Operation\"");
            std::string group;
            if (fields >> group) {
                if (group != "screen") fail(lineNumber, "expected \"screen\" or nothing after the operation");
                action.screen = true;
            }
            machine.actions.push_back(action);
        } else if (section == "transitions:") {
            if (line.front() == '[' && line.back() == ']') {
                state = indexOf(machine.states, line.substr(1, line.size() - 2), lineNumber, "state");
                if (!headers.insert(state).second) fail(lineNumber, "state given twice");
            } else if (state < 0) {
                fail(lineNumber, "transition before the first state header");
            } else {
                parseTransition(machine, state, line, lineNumber);
            }
        } else {
            fail(lineNumber, "text outside a section");
        }
    }
    return machine;
}

// Equal action lists share one vector; vector 0 means "no entry" and vector 10 is the empty list.
struct Vectors {
    std::vector<std::vector<int>> lists;  // index = vector number
    std::map<std::vector<int>, int> numbers;
};

Vectors numberVectors(const Machine& machine) {
    Vectors vectors;
    vectors.lists.resize(1);
    int distinct = 0;
    std::map<std::vector<int>, bool> seen;
    for (const Transition& t : machine.transitions)
        if (!seen[t.actions]) seen[t.actions] = true, ++distinct;
    if (!seen.count({})) throw std::runtime_error("no entry has the empty action list");
    vectors.lists.resize(static_cast<std::size_t>(distinct) + 1);
    vectors.numbers[{}] = kEmptyVector;
    int next = 1;
    for (const Transition& t : machine.transitions) {
        if (vectors.numbers.count(t.actions)) continue;
        if (next == kEmptyVector) ++next;
        vectors.numbers[t.actions] = next;
        vectors.lists[static_cast<std::size_t>(next)] = t.actions;
        ++next;
    }
    for (const auto& [list, number] : vectors.numbers)
        if (static_cast<int>(list.size()) >= kVectorSlots)
            throw std::runtime_error("an action list does not fit a vector of " + std::to_string(kVectorSlots));
    return vectors;
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path);
    out << text;
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string vocabularyHeader(const Machine& m, std::size_t vectorCount) {
    std::ostringstream out;
    out << "// Generated from agent_machine.txt by orvane_tablegen. Do not edit.\n#pragma once\n\n"
        << "namespace agent {\n\n"
        << "inline constexpr int kStateCount = " << m.states.size() << ";\n"
        << "inline constexpr int kEventCount = " << m.events.size() << ";\n"
        << "inline constexpr int kActionCount = " << m.actions.size() << ";\n"
        << "inline constexpr int kVectorCount = " << vectorCount << ";\n"
        << "inline constexpr int kVectorSlots = " << kVectorSlots << ";\n\n"
        << "enum State : int {\n";
    for (std::size_t i = 0; i < m.states.size(); ++i) out << "    " << identifier(m.states[i]) << " = " << i << ",\n";
    out << "};\n\nenum Event : int {\n";
    for (std::size_t i = 0; i < m.events.size(); ++i) out << "    " << identifier(m.events[i]) << " = " << i << ",\n";
    out << "};\n\n}  // namespace agent\n";
    return out.str();
}

std::string actionsHeader(const Machine& m) {
    std::ostringstream out;
    out << "// Generated from agent_machine.txt by orvane_tablegen. Do not edit.\n#pragma once\n\n"
        << "// The actions the screen state serves itself: buttons, titles, agent-state names, button sets.\n"
        << "class ScreenActions {\npublic:\n    virtual ~ScreenActions() = default;\n\n";
    for (const Action& a : m.actions)
        if (a.screen) out << "    virtual void " << a.operation << "() = 0;  // " << a.name << "\n";
    out << "};\n\n"
        << "// The operations the agent state machine runs as actions, one per action number; the\n"
        << "// screen's own are reached through screenActions().\n"
        << "class AgentActions {\npublic:\n    virtual ~AgentActions() = default;\n\n"
        << "    virtual ScreenActions& screenActions() = 0;\n";
    for (const Action& a : m.actions)
        if (!a.screen) out << "    virtual void " << a.operation << "() = 0;  // " << a.name << "\n";
    out << "};\n";
    return out.str();
}

std::string recorderHeader(const Machine& m) {
    std::ostringstream out;
    out << "// Generated from agent_machine.txt by orvane_tablegen. Do not edit.\n#pragma once\n\n"
        << "#include <functional>\n#include <string>\n#include <vector>\n\n#include \"AgentActions.h\"\n\n"
        << "// Test double: records the name of every action run, and lets a test hook each one.\n"
        << "class AgentActionRecorder : public AgentActions, public ScreenActions {\npublic:\n"
        << "    std::vector<std::string> calls;\n"
        << "    std::function<void(const std::string&)> onAction;\n\n"
        << "    ScreenActions& screenActions() override { return *this; }\n";
    for (const Action& a : m.actions)
        out << "    void " << a.operation << "() override { record(\"" << a.name << "\"); }\n";
    out << "\nprivate:\n    void record(const std::string& name) {\n        calls.push_back(name);\n"
        << "        if (onAction) onAction(name);\n    }\n};\n";
    return out.str();
}

std::string tablesSource(const Machine& m, const Vectors& vectors) {
    const std::size_t rows = m.states.size();
    const std::size_t columns = m.events.size();
    std::vector<int> next(rows * columns, 0);
    std::vector<int> index(rows * columns, 0);
    const int defaults = static_cast<int>(rows) - 1;
    for (const Transition& t : m.transitions) {
        const std::size_t cell = static_cast<std::size_t>(t.state) * columns + static_cast<std::size_t>(t.event);
        next[cell] = t.state == defaults && t.nextState == defaults ? defaults : t.nextState;
        index[cell] = vectors.numbers.at(t.actions);
    }
    std::ostringstream out;
    out << "// Generated from agent_machine.txt by orvane_tablegen. Do not edit.\n"
        << "#include \"core/AgentTables.h\"\n\n#include \"AgentActions.h\"\n\nnamespace agent {\n\n";
    auto writeGrid = [&](const char* name, const std::vector<int>& grid) {
        out << "const std::uint16_t " << name << "[kStateCount * kEventCount] = {\n";
        for (std::size_t r = 0; r < rows; ++r) {
            out << "    ";
            for (std::size_t c = 0; c < columns; ++c) out << grid[r * columns + c] << ",";
            out << "  // " << m.states[r] << "\n";
        }
        out << "};\n\n";
    };
    writeGrid("NextStateTable", next);
    writeGrid("ActionVectorIndexTable", index);
    out << "const std::uint16_t ActionVectorTable[kVectorCount][kVectorSlots] = {\n";
    for (std::size_t v = 0; v < vectors.lists.size(); ++v) {
        out << "    {";
        if (v != 0) {
            for (int action : vectors.lists[v]) out << action << ",";
            out << "0xFFFF";
        }
        out << "},  // " << v << "\n";
    }
    out << "};\n\nconst ActionFunction ActionTable[kActionCount] = {\n";
    for (const Action& a : m.actions)
        out << "    [](AgentActions& context) { context." << (a.screen ? "screenActions()." : "") << a.operation
            << "(); },\n";
    out << "};\n\n";
    auto writeNames = [&](const char* name, const char* size, const auto& items, auto nameOf) {
        out << "const char* const " << name << "[" << size << "] = {\n";
        for (const auto& item : items) out << "    \"" << nameOf(item) << "\",\n";
        out << "};\n\n";
    };
    auto plain = [](const std::string& s) { return s; };
    writeNames("StateNames", "kStateCount", m.states, plain);
    writeNames("EventNames", "kEventCount", m.events, plain);
    writeNames("ActionNames", "kActionCount", m.actions, [](const Action& a) { return a.name; });
    out << "}  // namespace agent\n";
    return out.str();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: orvane_tablegen <agent_machine.txt> <output directory>\n";
        return 2;
    }
    try {
        std::ifstream input(argv[1]);
        if (!input) throw std::runtime_error(std::string("cannot read ") + argv[1]);
        const Machine machine = parse(input);
        if (machine.states.empty() || machine.states.back() != "Defaults")
            throw std::runtime_error("the last state must be the Defaults row");
        const Vectors vectors = numberVectors(machine);
        const std::string dir = argv[2];
        writeFile(dir + "/AgentVocabulary.h", vocabularyHeader(machine, vectors.lists.size()));
        writeFile(dir + "/AgentActions.h", actionsHeader(machine));
        writeFile(dir + "/AgentActionRecorder.h", recorderHeader(machine));
        writeFile(dir + "/AgentTables.cpp", tablesSource(machine, vectors));
        std::cout << "agent machine: " << machine.states.size() << " states, " << machine.events.size() << " events, "
                  << machine.actions.size() << " actions, " << machine.transitions.size() << " transitions, "
                  << vectors.lists.size() - 1 << " action vectors\n";
    } catch (const std::exception& error) {
        std::cerr << argv[1] << ": " << error.what() << "\n";
        return 1;
    }
    return 0;
}
