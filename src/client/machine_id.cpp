#include "client/machine_id.h"

#include <random>

#include "platform/files.h"
#include "platform/settings_store.h"
#include "platform/text.h"

namespace tessaro {

uint32_t MachineIdFromText(std::string_view text) {
    text = TrimAscii(text);
    uint32_t h = 2166136261u;
    for (unsigned char c : text) {
        h ^= c;
        h *= 16777619u;
    }
    return h ? h : 1;
}

uint32_t MachineIdentifier(SettingsStore& settings, const std::string& machineIdFile) {
    if (auto bytes = ReadWholeFile(machineIdFile)) {
        std::string_view text(reinterpret_cast<const char*>(bytes->data()), bytes->size());
        if (!TrimAscii(text).empty()) return MachineIdFromText(text);
    }
    std::string key = SettingsKey("Net\\Login");
    if (auto kept = settings.getDword(key, kMachineIdValue); kept && *kept != 0) return *kept;
    std::random_device rd;
    uint32_t id = 0;
    while (id == 0) id = rd();
    settings.setDword(key, kMachineIdValue, id);
    return id;
}

}  // namespace tessaro
