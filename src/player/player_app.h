// The player's start-up: registration, single instance, the window and its event loop.
#pragma once

#include <string>

namespace zuvo {

// The command line without the program name, as one text: the arguments joined by single blanks,
// each as received (decoded from the local 8-bit encoding into UTF-8).
std::string JoinCommandLine(int argc, char** argv);

// Runs the player. Returns the process exit code: 0 for a later start that handed over (or found
// no running window) and when the window cannot be created; 1 after the window was closed.
int RunPlayer(int argc, char** argv);

}  // namespace zuvo
