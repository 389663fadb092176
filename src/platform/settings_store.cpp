#include "platform/settings_store.h"

#include <cstdio>

#include "platform/files.h"
#include "platform/process_lock.h"
#include "platform/text.h"

namespace tessaro {

std::string SettingsKey(std::string_view sub) {
    std::string key(kRootKey);
    if (!sub.empty()) {
        key += '\\';
        key += sub;
    }
    return key;
}

bool SettingsStore::NoCaseLess::operator()(const std::string& a, const std::string& b) const {
    return CompareNoCase(a, b) < 0;
}

SettingsStore::SettingsStore(std::string path) : path_(std::move(path)) {
    if (auto data = ReadWholeFile(path_)) parse(std::string_view(reinterpret_cast<const char*>(data->data()), data->size()));
}

std::optional<SettingValue> SettingsStore::get(std::string_view key, std::string_view name) const {
    std::lock_guard lock(mutex_);
    auto k = keys_.find(std::string(key));
    if (k == keys_.end()) return std::nullopt;
    auto v = k->second.find(std::string(name));
    if (v == k->second.end()) return std::nullopt;
    return v->second;
}

std::optional<std::string> SettingsStore::getString(std::string_view key, std::string_view name) const {
    auto v = get(key, name);
    if (!v || v->type != SettingType::String) return std::nullopt;
    return v->bytes;
}

std::optional<uint32_t> SettingsStore::getDword(std::string_view key, std::string_view name) const {
    auto v = get(key, name);
    if (!v || v->type != SettingType::Dword) return std::nullopt;
    return v->dword;
}

std::optional<std::string> SettingsStore::getBinary(std::string_view key, std::string_view name) const {
    auto v = get(key, name);
    if (!v || v->type != SettingType::Binary) return std::nullopt;
    return v->bytes;
}

void SettingsStore::setString(std::string_view key, std::string_view name, std::string_view value) {
    std::lock_guard lock(mutex_);
    keys_[std::string(key)][std::string(name)] = SettingValue{SettingType::String, std::string(value), 0};
}

void SettingsStore::setDword(std::string_view key, std::string_view name, uint32_t value) {
    std::lock_guard lock(mutex_);
    keys_[std::string(key)][std::string(name)] = SettingValue{SettingType::Dword, {}, value};
}

void SettingsStore::setBinary(std::string_view key, std::string_view name, std::string_view bytes) {
    std::lock_guard lock(mutex_);
    keys_[std::string(key)][std::string(name)] = SettingValue{SettingType::Binary, std::string(bytes), 0};
}

void SettingsStore::remove(std::string_view key, std::string_view name) {
    std::lock_guard lock(mutex_);
    auto k = keys_.find(std::string(key));
    if (k != keys_.end()) k->second.erase(std::string(name));
}

bool SettingsStore::hasKey(std::string_view key) const {
    std::lock_guard lock(mutex_);
    return keys_.count(std::string(key)) > 0;
}

std::vector<std::string> SettingsStore::subKeys(std::string_view key) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    std::string prefix = std::string(key) + '\\';
    for (const auto& [name, values] : keys_) {
        if (!StartsWithNoCase(name, prefix)) continue;
        std::string rest = name.substr(prefix.size());
        std::string child = rest.substr(0, rest.find('\\'));
        if (!child.empty() && (out.empty() || !EqualsNoCase(out.back(), child))) out.push_back(child);
    }
    return out;
}

// File format, one value per line under "[key]" headers, in the manner of a .reg file:
//   "name"="text"      a string; \\ \" \n \r \t and \xHH escapes, other bytes as they are
//   "name"=dword:1a2b  a DWORD in hexadecimal
//   "name"=hex:0a,ff   binary bytes
//   @=...              the key's default value
namespace {

std::string Escape(std::string_view s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '"': out += "\\\""; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (static_cast<uint8_t>(c) < 0x20 || c == 0x7F) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<uint8_t>(c));
                    out += buf;
                } else {
                    out += c;
                }
        }
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Parses a quoted string starting at s[0] == '"'; returns the position after the
// closing quote or npos.
size_t Unescape(std::string_view s, std::string& out) {
    if (s.empty() || s[0] != '"') return std::string_view::npos;
    for (size_t i = 1; i < s.size(); ++i) {
        char c = s[i];
        if (c == '"') return i + 1;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i >= s.size()) return std::string_view::npos;
        switch (s[i]) {
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'x': {
                if (i + 2 >= s.size()) return std::string_view::npos;
                int hi = HexDigit(s[i + 1]), lo = HexDigit(s[i + 2]);
                if (hi < 0 || lo < 0) return std::string_view::npos;
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                break;
            }
            default: out += s[i];
        }
    }
    return std::string_view::npos;
}

}  // namespace

std::string SettingsStore::serialize() const {
    std::lock_guard lock(mutex_);
    std::string out = "; Tessaro settings\n";
    for (const auto& [key, values] : keys_) {
        out += "\n[" + key + "]\n";
        for (const auto& [name, v] : values) {
            out += name.empty() ? std::string("@") : "\"" + Escape(name) + "\"";
            out += '=';
            char buf[16];
            switch (v.type) {
                case SettingType::String: out += "\"" + Escape(v.bytes) + "\""; break;
                case SettingType::Dword:
                    std::snprintf(buf, sizeof buf, "dword:%08x", v.dword);
                    out += buf;
                    break;
                case SettingType::Binary:
                    out += "hex:";
                    for (size_t i = 0; i < v.bytes.size(); ++i) {
                        std::snprintf(buf, sizeof buf, i ? ",%02x" : "%02x", static_cast<uint8_t>(v.bytes[i]));
                        out += buf;
                    }
                    break;
            }
            out += '\n';
        }
    }
    return out;
}

void SettingsStore::parse(std::string_view text) {
    std::string key;
    while (!text.empty()) {
        size_t eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            size_t close = line.rfind(']');
            key = close == std::string_view::npos ? std::string{} : std::string(line.substr(1, close - 1));
            continue;
        }
        if (key.empty()) continue;
        std::string name;
        size_t pos;
        if (line[0] == '@') {
            pos = 1;
        } else {
            pos = Unescape(line, name);
            if (pos == std::string_view::npos) continue;
        }
        if (pos >= line.size() || line[pos] != '=') continue;
        std::string_view value = line.substr(pos + 1);
        SettingValue v;
        if (value.starts_with("dword:")) {
            uint32_t d = 0;
            std::string_view hex = value.substr(6);
            bool ok = !hex.empty() && hex.size() <= 8;
            for (char c : hex) {
                int x = HexDigit(c);
                if (x < 0) ok = false;
                d = d * 16 + static_cast<uint32_t>(x < 0 ? 0 : x);
            }
            if (!ok) continue;
            v = SettingValue{SettingType::Dword, {}, d};
        } else if (value.starts_with("hex:")) {
            std::string bytes;
            std::string_view hex = value.substr(4);
            bool ok = true;
            for (size_t i = 0; i < hex.size(); i += 3) {
                int hi = HexDigit(hex[i]), lo = i + 1 < hex.size() ? HexDigit(hex[i + 1]) : -1;
                if (hi < 0 || lo < 0 || (i + 2 < hex.size() && hex[i + 2] != ',')) {
                    ok = false;
                    break;
                }
                bytes += static_cast<char>(hi * 16 + lo);
            }
            if (!ok) continue;
            v = SettingValue{SettingType::Binary, std::move(bytes), 0};
        } else {
            std::string s;
            if (Unescape(value, s) != value.size()) continue;
            v = SettingValue{SettingType::String, std::move(s), 0};
        }
        std::lock_guard lock(mutex_);
        keys_[key][name] = std::move(v);
    }
}

bool SettingsStore::save() const {
    if (path_.empty()) return false;
    std::string text = serialize();
    CreateDirectories(path_);
    // The file may hold the saved login password: owner only.
    ProcessFileLock processLock(path_);
    return processLock.held() && WriteFileAtomic(path_, text, 0600);
}

}  // namespace tessaro
