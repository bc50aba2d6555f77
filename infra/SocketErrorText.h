#pragma once

#include <string>

// The socket error of the calling thread (errno) as "Error:[code]. " and a sentence, the code
// being the Windows Sockets number that peers and logs of this system have always used.
std::string socketErrorText();
std::string socketErrorText(int error);
// The Windows Sockets code for an errno value, or the errno value itself when none maps.
int socketErrorCode(int error);
