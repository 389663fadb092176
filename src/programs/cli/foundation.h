// The foundation's part of tessaro-cli demo: paths, classes and initials.
#pragma once

#include <string>

namespace tessaro::cli {

// Prints the path table of appDir, the classes of a few securities and the
// initials of a few names.
void PrintFoundationDemo(const std::string& appDir);

}  // namespace tessaro::cli
