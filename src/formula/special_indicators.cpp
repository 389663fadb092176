#include "formula/special_indicators.h"

#include <mutex>

#include "platform/text.h"

namespace tessaro {

std::span<const std::string_view> CapitalFlowIndicatorNames() {
    static constexpr std::string_view kNames[] = {"#QJCWTJ", "#DKZJ", "#CMFB", "#DKCB", "#JJQBD", "#DKBZ",
                                                  "#DKDS",   "#CPZJ", "#ZJLD", "#ZJCW", "#GJBD", "#ZZCB"};
    return kNames;
}

void SpecialIndicatorRegistry::Register(std::string_view name, SpecialIndicatorFn fn) {
    std::unique_lock lock(mutex_);
    for (auto& [n, f] : entries_) {
        if (EqualsNoCase(n, name)) {
            f = std::move(fn);
            return;
        }
    }
    entries_.emplace_back(std::string(name), std::move(fn));
}

void SpecialIndicatorRegistry::Unregister(std::string_view name) {
    std::unique_lock lock(mutex_);
    std::erase_if(entries_, [&](const auto& e) { return EqualsNoCase(e.first, name); });
}

SpecialIndicatorFn SpecialIndicatorRegistry::Find(std::string_view name) const {
    std::shared_lock lock(mutex_);
    for (const auto& [n, f] : entries_)
        if (EqualsNoCase(n, name)) return f;
    return {};
}

SpecialIndicatorRegistry& ProcessSpecialIndicators() {
    static SpecialIndicatorRegistry registry;
    return registry;
}

}  // namespace tessaro
