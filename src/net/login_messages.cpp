#include "net/login_messages.h"

#include <cstring>

namespace tessaro {

void ScrambleLoginBlock(uint8_t* block, size_t n) {
    for (size_t i = 0; i < n; ++i) block[i] = static_cast<uint8_t>((block[i] << 3) | (block[i] >> 5));
}

void UnscrambleLoginBlock(uint8_t* block, size_t n) {
    for (size_t i = 0; i < n; ++i) block[i] = static_cast<uint8_t>((block[i] >> 3) | (block[i] << 5));
}

void Login::Fields(WireCursor& c) {
    uint8_t block[kLoginBlockSize] = {};
    if (!c.reading()) {
        // Build the plain block, then scramble it; fields longer than their
        // width are cut at a character boundary.
        WireCursor plain = WireCursor::Writer(block, sizeof block);
        plain.fixedText(account, 32);
        plain.fixedText(password, 32);
        plain.fixedText(maker, 16);
        plain.fixedText(product, 16);
        plain.fixedText(version, 16);
        plain.u32(machineId);
        ScrambleLoginBlock(block, sizeof block);
    }
    c.raw(block, sizeof block);
    if (c.reading() && c.ok()) {
        UnscrambleLoginBlock(block, sizeof block);
        WireCursor plain = WireCursor::Reader(block, sizeof block);
        plain.fixedText(account, 32);
        plain.fixedText(password, 32);
        plain.fixedText(maker, 16);
        plain.fixedText(product, 16);
        plain.fixedText(version, 16);
        plain.u32(machineId);
    }
}

void LoginReply::Fields(WireCursor& c) {
    c.u8(refused);
    c.text(message);
    c.text(updateParameters);
    c.text(videoPage);
    c.u16(daySpan);
    c.u16(fiveMinuteSpan);
    c.raw(reserved.data(), reserved.size());
    c.text(f9Page);
    c.text(f10Page);
    c.text(noticePage);
    c.text(marketInfoPage);
    c.text(techPage);
    c.text(scrollMessagePage);
    c.text(sid);
}

}  // namespace tessaro
