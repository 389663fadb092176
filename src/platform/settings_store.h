// A typed settings store standing in for the registry.
//
// Keys keep the registry's names ("SOFTWARE\Halvex\TSR_PE\Settings"); values are
// typed SZ (GBK bytes), DWORD or BINARY, and an absent value is distinct from a
// stored 0. The store lives in memory; a store opened on a file reads it at
// open and writes it back (atomically) on Save. Thread-safe.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaro {

enum class SettingType { String, Dword, Binary };

struct SettingValue {
    SettingType type = SettingType::String;
    std::string bytes;   // String: the text; Binary: the raw bytes
    uint32_t dword = 0;  // Dword
    friend bool operator==(const SettingValue&, const SettingValue&) = default;
};

class SettingsStore {
public:
    // An empty store that lives only in memory (tests).
    SettingsStore() = default;
    // A store backed by a file; a missing or unreadable file gives an empty store.
    explicit SettingsStore(std::string path);

    // The name "" is a key's default value. Keys and names compare case-insensitively.
    std::optional<std::string> getString(std::string_view key, std::string_view name) const;
    std::optional<uint32_t> getDword(std::string_view key, std::string_view name) const;
    std::optional<std::string> getBinary(std::string_view key, std::string_view name) const;
    std::optional<SettingValue> get(std::string_view key, std::string_view name) const;

    void setString(std::string_view key, std::string_view name, std::string_view value);
    void setDword(std::string_view key, std::string_view name, uint32_t value);
    void setBinary(std::string_view key, std::string_view name, std::string_view bytes);
    void remove(std::string_view key, std::string_view name);
    bool hasKey(std::string_view key) const;
    // The immediate sub-key names of `key`.
    std::vector<std::string> subKeys(std::string_view key) const;

    // Writes the file (temporary file + rename). False when the write failed or
    // the store has no file.
    bool save() const;
    const std::string& path() const { return path_; }

    // The text form of the file, and its parser (exposed for tests).
    std::string serialize() const;
    // Parses text into the store; malformed lines are skipped.
    void parse(std::string_view text);

private:
    struct NoCaseLess {
        bool operator()(const std::string& a, const std::string& b) const;
    };
    using Values = std::map<std::string, SettingValue, NoCaseLess>;

    std::string path_;
    mutable std::mutex mutex_;
    std::map<std::string, Values, NoCaseLess> keys_;
};

// The root key of the application's settings.
inline constexpr std::string_view kRootKey = "SOFTWARE\\Halvex\\TSR_PE";
// kRootKey + "\\" + sub (or the root itself when sub is empty).
std::string SettingsKey(std::string_view sub);

}  // namespace tessaro
