#pragma once

#include <string>

#include "infra/CrashDumper.h"

// The dump helper's messages as message boxes, when there is a screen to show them on; nothing
// otherwise (they are on standard error already).
void showCrashMessageBox(const std::string& caption, const std::string& text, CrashDumper::MessageIcon icon);
