// The machine identifier of the login block: a stable 32-bit value derived from
// /etc/machine-id, or, where that file is absent or empty, a random value made
// once and kept in the settings store.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tessaro {

class SettingsStore;

inline constexpr char kMachineIdFile[] = "/etc/machine-id";
// Where the random identifier is kept: key Net\Login, value "machineid" (DWORD).
inline constexpr char kMachineIdValue[] = "machineid";

// FNV-1a of the identifier text without surrounding blanks; never 0.
uint32_t MachineIdFromText(std::string_view text);
uint32_t MachineIdentifier(SettingsStore& settings, const std::string& machineIdFile = kMachineIdFile);

}  // namespace tessaro
