// What a quote server run is told: accounts, the texts of the login reply, the
// connection limits and the fault plan that tests use to make it a hostile peer.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace tessaro {

// Faults injected on purpose (--fault, repeatable).
struct FaultPlan {
    enum class Split : uint8_t { None, OneByte, Random };
    Split split = Split::None;      // split=1 / split=random: write every packet in pieces
    uint32_t delayMs = 0;           // delay=MS before each reply
    uint32_t dropAfter = 0;         // drop-after=N: close after N packets sent (0: never)
    std::set<uint16_t> closeAt;     // close-at=CODE: close instead of answering that request
    std::optional<std::string> refuseLogin;  // refuse-login=TEXT (GBK)
    std::set<uint16_t> garble;      // garble=CODE: answer with a payload too short to read
    bool silent = false;            // accept and never answer
};

// Parses one --fault value into `plan`. Codes are hexadecimal ("0xB001" or
// "B001") or decimal. False with the reason in *error.
bool ParseFault(std::string_view fault, FaultPlan& plan, std::string* error);

struct ServerConfig {
    // Account name -> password, GBK. Without an accounts file: guest only.
    std::map<std::string, std::string> accounts;
    // The login reply's texts and spans.
    std::string loginNotice;  // sent with an accepted login when not empty
    uint16_t daySpan = 250, fiveMinuteSpan = 20;
    std::string videoPage = "http://127.0.0.1/video";
    std::string f9Page = "http://127.0.0.1/f9", f10Page = "http://127.0.0.1/f10";
    std::string noticePage = "http://127.0.0.1/notice", marketInfoPage = "http://127.0.0.1/market";
    std::string techPage = "http://127.0.0.1/tech", scrollMessagePage = "http://127.0.0.1/scroll";
    std::array<uint32_t, 4> infoNumbers{1, 1, 1, 1};  // notice, market info, video, scrolling message

    // Limits of one connection.
    size_t maxReceiveBuffer = 1u << 20;    // bytes buffered from a client
    size_t maxRequestLength = 256u << 10;  // largest request packet accepted
    size_t maxSendQueue = 8u << 20;        // bytes queued for a slow reader
    size_t compressThreshold = 1024;       // replies with a longer payload are deflated
    uint32_t maxPageRows = 1000;           // rows of a ranked page or a refresh page

    FaultPlan faults;
};

// Reads the [accounts] section (name=password lines) of an INI file into
// `accounts` (names and passwords as their bytes). False when the file cannot
// be read or holds no account.
bool LoadAccountsFile(const std::string& path, std::map<std::string, std::string>& accounts, std::string* error);

}  // namespace tessaro
