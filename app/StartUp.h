#pragma once

#include <functional>
#include <optional>
#include <string>

#include "agent/LoginEntries.h"

class CImplementation;
class InstanceGuard;

// Prints one line on standard output after the time of day, whole even from several threads.
void printStamped(const std::string& line);

// The program's four-part version.
std::string programVersion();
// --version: prints the version.
void printVersion();

// What both phones do before the agent core starts: the version logged, one copy per user,
// the self-update check. False when another copy already runs; `tell` says why to the user.
bool startUp(InstanceGuard& guard, const std::function<void(const std::string&)>& tell);

// The login to make at start: the given entries, empty fields taken from the stored settings.
LoginEntries completedLogin(const LoginEntries& given, CImplementation& core);

// The password from the first line of standard input, read without taking anything after it
// (the headless phone reads its commands from the rest). None at the end of the input.
std::optional<std::string> readPasswordLine();
