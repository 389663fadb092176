// An optional trace of what reaches the player control, one line per property assignment or call,
// written to the file named by ZUVOPLAYER_TRACE. Lines:
//   set <name> <flag|number|text|counted> <value>
//   reject <name> <kind> <value>
//   call Start
// Text values escape backslash, CR and LF as \\, \r and \n so that every entry stays on one line.
#pragma once

#include "player/link_parser.h"

#include <cstdio>
#include <string>

namespace zuvo {

class TraceLog {
public:
    TraceLog() = default;
    explicit TraceLog(const std::string& path);
    ~TraceLog();
    TraceLog(const TraceLog&) = delete;
    TraceLog& operator=(const TraceLog&) = delete;

    // The file named by ZUVOPLAYER_TRACE, or a log that writes nothing.
    static TraceLog& FromEnvironment();

    bool enabled() const { return file_ != nullptr; }
    void Property(const char* verb, const std::string& name, PropertyKind kind, const PropertyValue& value);
    void Call(const char* method);

private:
    void WriteLine(const std::string& line);
    std::FILE* file_ = nullptr;
};

// The value as the trace and the stand-in show it: true/false, decimal, or the escaped text.
std::string FormatValue(const PropertyValue& value);

}  // namespace zuvo
