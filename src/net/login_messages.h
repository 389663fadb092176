// The login exchange: the scrambled login block the client sends and the
// server's answer with its notices, download spans and page addresses.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "net/message.h"

namespace tessaro {

inline constexpr size_t kLoginBlockSize = 116;
inline constexpr char kLoginMaker[] = "Halvex";
// "Tessaro普及版" in GBK.
inline constexpr char kLoginProduct[] = "Tessaro\xC6\xD5\xBC\xB0\xB0\xE6";
inline constexpr char kLoginVersion[] = "5.01.001";
// The guest account, open to everyone, and its password agreed with the server.
inline constexpr char kGuestAccount[] = "guest";
inline constexpr char kGuestPassword[] = "hlvex";

// Every byte of the block is rotated left by 3 bits before sending.
void ScrambleLoginBlock(uint8_t* block, size_t n);
void UnscrambleLoginBlock(uint8_t* block, size_t n);

// 0x4001 from the client: the 116-byte login block, scrambled (132 bytes in all).
class Login : public Message {
public:
    Login() : Message(kCodeLogin) {}

    std::string account;   // FixedText(32), GBK
    std::string password;  // FixedText(32)
    std::string maker = kLoginMaker;        // FixedText(16)
    std::string product = kLoginProduct;    // FixedText(16)
    std::string version = kLoginVersion;    // FixedText(16)
    uint32_t machineId = 0;

protected:
    void Fields(WireCursor& c) override;
};

// 0x4001 from the server.
class LoginReply : public Message {
public:
    LoginReply() : Message(kCodeLogin) {}

    uint8_t refused = 0;  // nonzero: the login is refused
    std::string message;  // reason for a refusal, or a notice
    std::string updateParameters;  // nonempty: a newer version exists
    std::string videoPage;
    uint16_t daySpan = 0;         // days of day data; 0 keeps the current value
    uint16_t fiveMinuteSpan = 0;  // days of five-minute data; 0 keeps the current value
    std::array<uint8_t, 32> reserved{};
    std::string f9Page, f10Page, noticePage, marketInfoPage, techPage, scrollMessagePage;
    std::string sid;

protected:
    void Fields(WireCursor& c) override;
};

}  // namespace tessaro
