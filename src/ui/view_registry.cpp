#include "ui/view_registry.h"

namespace tessaro {

void ViewRegistry::RegisterFactory(ViewKind kind, ViewFactory factory, std::set<CommandId> opens) {
    if (!factory) {
        factories_.erase(kind);
        return;
    }
    factories_[kind] = Entry{std::move(factory), std::move(opens)};
}

std::set<CommandId> ViewRegistry::OpenableCommands() const {
    std::set<CommandId> out;
    for (const auto& [kind, entry] : factories_) {
        for (CommandId id : entry.opens)
            if (Command(id).need == CommandNeed::OpensView && Command(id).viewKind == kind) out.insert(id);
    }
    return out;
}

View* ViewRegistry::Create(ViewKind kind, ViewContext& context, QWidget* parent) const {
    auto it = factories_.find(kind);
    if (it == factories_.end()) return nullptr;
    return it->second.factory(context, parent);
}

}  // namespace tessaro
