// tessaro-cli: the core, headless. Prints UTF-8; exit status 0 on success.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/app_dir.h"
#include "command.h"

namespace tessaro::cli {

namespace {
std::vector<Command>& Registry() {
    static std::vector<Command> commands;
    return commands;
}
}  // namespace

void RegisterCommand(Command command) { Registry().push_back(std::move(command)); }

const std::vector<Command>& Commands() { return Registry(); }

std::optional<std::string> Args::option(std::string_view name) {
    std::string flagName = "--" + std::string(name);
    for (size_t i = 0; i < args_.size(); ++i) {
        const std::string& a = args_[i];
        if (a == flagName && i + 1 < args_.size()) {
            std::string value = args_[i + 1];
            args_.erase(args_.begin() + static_cast<long>(i), args_.begin() + static_cast<long>(i) + 2);
            return value;
        }
        if (a.size() > flagName.size() && a.compare(0, flagName.size(), flagName) == 0 && a[flagName.size()] == '=') {
            std::string value = a.substr(flagName.size() + 1);
            args_.erase(args_.begin() + static_cast<long>(i));
            return value;
        }
    }
    return std::nullopt;
}

bool Args::flag(std::string_view name) {
    std::string flagName = "--" + std::string(name);
    auto it = std::find(args_.begin(), args_.end(), flagName);
    if (it == args_.end()) return false;
    args_.erase(it);
    return true;
}

int UsageError(std::string_view usage) {
    std::fprintf(stderr, "usage: tessaro-cli %.*s\n", static_cast<int>(usage.size()), usage.data());
    return 2;
}

int Fail(std::string_view message) {
    std::fprintf(stderr, "tessaro-cli: %.*s\n", static_cast<int>(message.size()), message.data());
    return 1;
}

namespace {
void PrintHelp(std::FILE* out) {
    std::fprintf(out,
                 "usage: tessaro-cli COMMAND [ARGS]\n"
                 "       tessaro-cli COMMAND --help    what one command does and its exit statuses\n"
                 "       tessaro-cli --version\n\n"
                 "Prints UTF-8; errors go to stderr. Exit status: %s, unless a command's help says more.\n\n"
                 "commands:\n",
                 kStandardExitCodes);
    std::vector<const Command*> sorted;
    for (const auto& c : Commands()) sorted.push_back(&c);
    std::sort(sorted.begin(), sorted.end(), [](auto* a, auto* b) { return a->name < b->name; });
    for (const Command* c : sorted) std::fprintf(out, "  %s\n", c->usage.c_str());
}
void PrintCommandHelp(const Command& c) {
    std::printf("usage: tessaro-cli %s\n", c.usage.c_str());
    if (!c.summary.empty()) std::printf("\n%s\n", c.summary.c_str());
    std::printf("\nexit status: %s\n", c.exitCodes.c_str());
}

}  // namespace

}  // namespace tessaro::cli

int main(int argc, char** argv) {
    using namespace tessaro::cli;
    if (argc < 2 || std::string(argv[1]) == "--help" || std::string(argv[1]) == "help") {
        PrintHelp(argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    std::string name = argv[1];
    if (name == "--version") {
        std::printf("tessaro-cli %.*s (%.*s)\n", static_cast<int>(tessaro::kVersionNumber.size()),
                    tessaro::kVersionNumber.data(), static_cast<int>(tessaro::kEditionTitle.size()),
                    tessaro::kEditionTitle.data());
        return 0;
    }
    for (const Command& c : Commands()) {
        if (c.name != name) continue;
        Args args(std::vector<std::string>(argv + 2, argv + argc));
        if (args.flag("help")) {
            PrintCommandHelp(c);
            return 0;
        }
        try {
            return c.run(args);
        } catch (const std::exception& e) {
            return Fail(e.what());
        }
    }
    std::fprintf(stderr, "tessaro-cli: unknown command '%s'\n", name.c_str());
    PrintHelp(stderr);
    return 2;
}
