#include "player/trace_log.h"

#include <cstdlib>

namespace zuvo {

TraceLog::TraceLog(const std::string& path) {
    if (!path.empty()) file_ = std::fopen(path.c_str(), "a");
}

TraceLog::~TraceLog() {
    if (file_) std::fclose(file_);
}

TraceLog& TraceLog::FromEnvironment() {
    static TraceLog log([] {
        const char* path = std::getenv("ZUVOPLAYER_TRACE");
        return std::string(path ? path : "");
    }());
    return log;
}

std::string FormatValue(const PropertyValue& value) {
    if (const bool* b = std::get_if<bool>(&value)) return *b ? "true" : "false";
    if (const std::uint32_t* n = std::get_if<std::uint32_t>(&value)) return std::to_string(*n);
    std::string out;
    for (char c : std::get<std::string>(value)) {
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else out += c;
    }
    return out;
}

void TraceLog::Property(const char* verb, const std::string& name, PropertyKind kind,
                        const PropertyValue& value) {
    if (!file_) return;
    WriteLine(std::string(verb) + " " + name + " " + PropertyKindName(kind) + " " + FormatValue(value));
}

void TraceLog::Call(const char* method) {
    if (!file_) return;
    WriteLine(std::string("call ") + method);
}

void TraceLog::WriteLine(const std::string& line) {
    std::fputs((line + "\n").c_str(), file_);
    std::fflush(file_);  // readers watch the file while the player runs
}

}  // namespace zuvo
