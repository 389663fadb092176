// tessaro-test-peer: the scripted quote server of the client's tests as a
// program, for the command-line checks. Prints its loopback port, then serves
// until it is terminated.
//   tessaro-test-peer [--refuse] [--one-byte] [--securities N]
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "client/loopback_peer.h"

namespace {
volatile std::sig_atomic_t stop = 0;
void OnSignal(int) { stop = 1; }
}  // namespace

int main(int argc, char** argv) {
    tessaro::test::LoopbackPeer::Plan plan;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--refuse")) plan.refuseLogin = true;
        else if (!std::strcmp(argv[i], "--one-byte")) plan.oneByteWrites = true;
        else if (!std::strcmp(argv[i], "--securities") && i + 1 < argc) plan.securities = uint32_t(std::atoi(argv[++i]));
        else {
            std::fprintf(stderr, "usage: tessaro-test-peer [--refuse] [--one-byte] [--securities N]\n");
            return 2;
        }
    }
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);
    tessaro::test::LoopbackPeer peer(plan);
    std::printf("%u\n", peer.port());
    std::fflush(stdout);
    while (!stop) ::usleep(20000);
    return 0;
}
