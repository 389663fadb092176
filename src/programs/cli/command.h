// tessaro-cli subcommands. Each cli/*.cpp registers its commands with a static
// CommandRegistration; main() dispatches on the first argument.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaro::cli {

// The arguments after the subcommand name, with helpers for "--name value" options.
class Args {
public:
    explicit Args(std::vector<std::string> args) : args_(std::move(args)) {}

    // Removes "--name value" (or "--name=value") and returns the value.
    std::optional<std::string> option(std::string_view name);
    // Removes "--name" and returns whether it was present.
    bool flag(std::string_view name);
    // What is left once the options are taken, in order.
    const std::vector<std::string>& positional() const { return args_; }
    size_t size() const { return args_.size(); }
    const std::string& operator[](size_t i) const { return args_[i]; }

private:
    std::vector<std::string> args_;
};

// A command returns the process exit status: 0 success, 1 failure, 2 usage error.
using CommandFn = std::function<int(Args&)>;

// The exit statuses every command shares; a command with more outcomes lists its own.
inline constexpr const char* kStandardExitCodes = "0 success, 1 failure, 2 usage error";

struct Command {
    std::string name;
    std::string usage;    // one line: "path --appdir DIR KIND [ARGS]"
    CommandFn run;
    std::string summary;  // what the command does, shown by "COMMAND --help"
    std::string exitCodes = kStandardExitCodes;
};

void RegisterCommand(Command command);
const std::vector<Command>& Commands();

struct CommandRegistration {
    CommandRegistration(std::string name, std::string usage, CommandFn run, std::string summary = {},
                        std::string exitCodes = kStandardExitCodes) {
        RegisterCommand(Command{std::move(name), std::move(usage), std::move(run), std::move(summary),
                                std::move(exitCodes)});
    }
};

// Prints "usage: tessaro-cli <usage>" to stderr and returns 2.
int UsageError(std::string_view usage);
// Prints "tessaro-cli: <message>" to stderr and returns 1.
int Fail(std::string_view message);

}  // namespace tessaro::cli
