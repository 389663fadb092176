#include "ui/model/login_model.h"

#include <charconv>

#include "platform/settings_store.h"
#include "platform/text.h"

namespace tessaro {
namespace {

std::string_view Trim(std::string_view s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string_view::npos) return {};
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

std::optional<uint16_t> ParsePort(std::string_view s) {
    s = Trim(s);
    unsigned value = 0;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (s.empty() || ec != std::errc() || p != s.data() + s.size() || value == 0 || value > 65535) return std::nullopt;
    return static_cast<uint16_t>(value);
}

// At most `n` characters of a UTF-8 text.
std::string Utf8Prefix(std::string_view s, size_t n) {
    size_t i = 0, chars = 0;
    while (i < s.size() && chars < n) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
        i = std::min(s.size(), i + len);
        ++chars;
    }
    return std::string(s.substr(0, i));
}

constexpr std::string_view kProduct = "Tessaro普及版";

std::string Key(std::string_view sub) { return SettingsKey(sub); }

std::optional<std::string> GetText(const SettingsStore& store, std::string_view sub, std::string_view name) {
    auto v = store.getString(Key(sub), name);
    if (!v) return std::nullopt;
    return GbkToUtf8(*v);
}

void SetText(SettingsStore& store, std::string_view sub, std::string_view name, std::string_view utf8) {
    store.setString(Key(sub), name, Utf8ToGbk(utf8));
}

}  // namespace

std::vector<ServerEntry> ParseServerList(std::string_view gbkText) {
    std::vector<ServerEntry> out;
    std::string text = GbkToUtf8(gbkText);
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string_view line(text.data() + pos, end - pos);
        pos = end + 1;
        if (line.find("/*") != std::string_view::npos) continue;
        std::vector<std::string_view> fields;
        size_t start = 0;
        while (true) {
            size_t comma = line.find(',', start);
            fields.push_back(Trim(line.substr(start, comma == std::string_view::npos ? std::string_view::npos
                                                                                    : comma - start)));
            if (comma == std::string_view::npos) break;
            start = comma + 1;
        }
        if (fields.size() < 4 || !EqualsNoCase(fields[0], kProduct)) continue;
        auto port = ParsePort(fields[3]);
        if (fields[1].empty() || fields[2].empty() || !port) continue;
        out.push_back(ServerEntry{Utf8Prefix(fields[1], 64), Utf8Prefix(fields[2], 64), *port});
        if (end == text.size()) break;
    }
    return out;
}

std::variant<ServerChoice, std::string> ResolveServerText(std::string_view text,
                                                          const std::vector<ServerEntry>& entries) {
    text = Trim(text);
    for (const ServerEntry& e : entries)
        if (EqualsNoCase(e.name, text)) return ServerChoice{e.name, e.host, e.port};
    if (text.find('.') == std::string_view::npos) return std::string(kNoValidServer);
    ServerChoice choice;
    choice.name = std::string(text);
    size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
        choice.host = std::string(text);
        choice.port = kDefaultServerPort;
    } else {
        choice.host = std::string(Trim(text.substr(0, colon)));
        auto port = ParsePort(text.substr(colon + 1));
        if (!port) return std::string(kNoValidServer);
        choice.port = *port;
    }
    if (choice.host.empty()) return std::string(kNoValidServer);
    // An address of a listed server connects under that server's name.
    for (const ServerEntry& e : entries)
        if (e.port == choice.port && EqualsNoCase(e.host, choice.host)) choice.name = e.name;
    return choice;
}

LoginFields LoadLoginFields(const SettingsStore& store) {
    LoginFields f;
    if (auto v = store.getDword(Key(kLoginKey), "savecheck")) f.remember = *v != 0;
    // A remembered account replaces the guest account; an empty one (not remembered) does not.
    auto name = GetText(store, kLoginKey, "name");
    auto word = GetText(store, kLoginKey, "word");
    if (name && !name->empty()) {
        f.account = *name;
        f.password = word.value_or("");
    }
    f.server = GetText(store, kServerKey, "selSvrName").value_or("");
    return f;
}

LoginDecision ApplyLogin(SettingsStore& store, const LoginFields& fields, const std::vector<ServerEntry>& entries) {
    LoginDecision d;
    d.account.name = std::string(Trim(fields.account));
    d.account.password = std::string(Trim(fields.password));
    store.setDword(Key(kLoginKey), "savecheck", fields.remember ? 1 : 0);
    SetText(store, kLoginKey, "name", fields.remember ? d.account.name : "");
    SetText(store, kLoginKey, "word", fields.remember ? d.account.password : "");
    std::string_view server = Trim(fields.server);
    if (server.empty()) return d;  // the caller offers the server picker
    auto resolved = ResolveServerText(server, entries);
    if (auto* error = std::get_if<std::string>(&resolved)) {
        d.error = *error;
        return d;
    }
    d.server = std::get<ServerChoice>(resolved);
    SetText(store, kServerKey, "selSvrName", server);
    return d;
}

uint32_t ReadAutocontime(const SettingsStore& store) {
    return store.getDword(Key(kLoginKey), "Autocontime").value_or(kDefaultAutocontime);
}

ProxyFields LoadProxyFields(const SettingsStore& store) {
    ProxyFields f;
    uint32_t kind = store.getDword(Key(kProxyKey), "type").value_or(0);
    f.kind = kind <= 3 ? int(kind) : 0;
    f.address = GetText(store, kProxyKey, "addr").value_or("");
    uint32_t port = store.getDword(Key(kProxyKey), "port").value_or(0) & 0xFFFF;
    if (port != 0) f.port = std::to_string(port);
    f.user = GetText(store, kProxyKey, "user").value_or("");
    f.password = GetText(store, kProxyKey, "word").value_or("");
    return f;
}

void SaveProxyFields(SettingsStore& store, const ProxyFields& fields) {
    store.setDword(Key(kProxyKey), "type", uint32_t(fields.kind < 0 || fields.kind > 3 ? 0 : fields.kind));
    SetText(store, kProxyKey, "addr", Trim(fields.address));
    store.setDword(Key(kProxyKey), "port", ParsePort(fields.port).value_or(0));
    SetText(store, kProxyKey, "user", fields.user);
    SetText(store, kProxyKey, "word", fields.password);
}

ProxySettings ReadProxySettings(const SettingsStore& store) {
    ProxySettings p;
    if (!store.hasKey(Key(kProxyKey))) return p;
    ProxyFields f = LoadProxyFields(store);
    p.kind = static_cast<ProxyKind>(f.kind);
    p.host = f.address;
    p.port = ParsePort(f.port).value_or(0);
    p.user = f.user;
    p.password = f.password;
    return p;
}

std::variant<std::pair<std::string, uint16_t>, std::string> ProxyTestTarget(const ProxyFields& fields) {
    std::string_view address = Trim(fields.address);
    auto port = ParsePort(fields.port);
    if (address.empty() || !port) return std::string(kInvalidProxyAddress);
    return std::make_pair(std::string(address), *port);
}

}  // namespace tessaro
