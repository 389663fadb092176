// tessaro-cli demo: shows what the core has on its built-in demo data.
#include <cstdio>

#include "command.h"

namespace tessaro::cli {
namespace {

int RunDemo(Args&) {
    std::printf("Tessaro demo\n");
    return 0;
}

CommandRegistration demo("demo", "demo", RunDemo);

}  // namespace
}  // namespace tessaro::cli
