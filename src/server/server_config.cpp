#include "server/server_config.h"

#include <charconv>

#include "net/login_messages.h"
#include "platform/files.h"
#include "platform/text.h"

namespace tessaro {

namespace {

bool ParseNumber(std::string_view text, uint32_t& out) {
    if (text.empty()) return false;
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && p == text.data() + text.size();
}

bool ParseCode(std::string_view text, uint16_t& out) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2), base = 16;
    else if (text.find_first_of("abcdefABCDEF") != std::string_view::npos || text.size() == 4) base = 16;
    if (text.empty()) return false;
    unsigned value = 0;
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc() || p != text.data() + text.size() || value > 0xFFFF) return false;
    out = static_cast<uint16_t>(value);
    return true;
}

}  // namespace

bool ParseFault(std::string_view fault, FaultPlan& plan, std::string* error) {
    auto fail = [&](std::string why) {
        if (error) *error = "bad --fault \"" + std::string(fault) + "\": " + why;
        return false;
    };
    if (fault == "silent") return plan.silent = true, true;
    size_t eq = fault.find('=');
    if (eq == std::string_view::npos) return fail("expected NAME=VALUE or silent");
    std::string_view name = fault.substr(0, eq), value = fault.substr(eq + 1);
    if (name == "split") {
        if (value == "1") plan.split = FaultPlan::Split::OneByte;
        else if (value == "random") plan.split = FaultPlan::Split::Random;
        else return fail("split takes 1 or random");
        return true;
    }
    if (name == "delay" || name == "drop-after") {
        uint32_t n = 0;
        if (!ParseNumber(value, n)) return fail("expected a number");
        (name == "delay" ? plan.delayMs : plan.dropAfter) = n;
        return true;
    }
    if (name == "close-at" || name == "garble") {
        uint16_t code = 0;
        if (!ParseCode(value, code)) return fail("expected a message code such as 0xB001");
        (name == "close-at" ? plan.closeAt : plan.garble).insert(code);
        return true;
    }
    if (name == "refuse-login") {
        plan.refuseLogin = Utf8ToGbk(value);
        return true;
    }
    return fail("unknown fault");
}

bool LoadAccountsFile(const std::string& path, std::map<std::string, std::string>& accounts, std::string* error) {
    std::optional<std::vector<uint8_t>> bytes = ReadWholeFile(path);
    if (!bytes) {
        if (error) *error = "cannot read accounts file " + path;
        return false;
    }
    std::string_view text(reinterpret_cast<const char*>(bytes->data()), bytes->size());
    bool inAccounts = false;
    size_t added = 0;
    while (!text.empty()) {
        size_t nl = text.find('\n');
        std::string_view line = TrimAscii(text.substr(0, nl));
        text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line.front() == '[') {
            inAccounts = EqualsNoCase(line, "[accounts]");
            continue;
        }
        size_t eq = line.find('=');
        if (!inAccounts || eq == std::string_view::npos) continue;
        std::string_view name = TrimAscii(line.substr(0, eq)), password = TrimAscii(line.substr(eq + 1));
        if (name.empty()) continue;
        accounts[Utf8ToGbk(name)] = Utf8ToGbk(password);
        ++added;
    }
    if (!added) {
        if (error) *error = "no [accounts] entry in " + path;
        return false;
    }
    return true;
}

}  // namespace tessaro
