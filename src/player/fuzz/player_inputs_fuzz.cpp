// libFuzzer target for everything the player reads from outside: a command line with its link,
// config.ini and mimeapps.list text, and hand-over frames from the local socket.
#include "player/ini_text.h"
#include "player/link_parser.h"
#include "player/single_instance.h"
#include "player/value_convert.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);

    // Links: decoding gives valid UTF-8 without NUL whenever the raw text was valid UTF-8.
    const std::string decoded = zuvo::PercentDecodeLink(input);
    if (decoded.find('\0') != std::string::npos && input.find('\0') == std::string::npos) std::abort();
    if (zuvo::IsValidUtf8(input) && !zuvo::IsValidUtf8(decoded)) std::abort();
    if (const auto parsed = zuvo::ParseCommandLine("-zuvopurl zuvop2p://" + input)) {
        if (parsed->assignments.size() > input.size()) std::abort();
    }

    // INI text: a value written is the value read back, and the rest of the text survives.
    const std::string written = zuvo::WriteIniValue(input, "default", "width", "123");
    if (zuvo::ReadIniValue(written, "default", "width") != std::optional<std::string>("123")) std::abort();
    (void)zuvo::ReadIniValue(input, "Default Applications", "x-scheme-handler/zuvop2p");

    // Hand-over frames, in two chunks.
    zuvo::HandoverDecoder decoder;
    const std::size_t half = size / 2;
    decoder.Feed(QByteArray(input.data(), static_cast<qsizetype>(half)));
    if (decoder.Feed(QByteArray(input.data() + half, static_cast<qsizetype>(size - half))) ==
        zuvo::HandoverDecoder::State::Complete) {
        if (!zuvo::IsValidUtf8(decoder.commandLine())) std::abort();
    }
    return 0;
}
