// The foundation's part of tessaro-cli demo: paths, classes and initials.
#pragma once

#include <string>

#include "session/session.h"

namespace tessaro::cli {

// Prints the path table of the session's directory and the classes of a few
// securities, starts the session showing its start-up stages, then prints the
// initials of a few names. False (the reason in error) when the start fails.
bool PrintFoundationDemo(Session& session, std::string& error);

}  // namespace tessaro::cli
