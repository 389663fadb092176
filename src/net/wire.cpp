#include "net/wire.h"

#include "platform/text.h"

namespace tessaro {

void WireCursor::raw(void* p, size_t n) {
    if (!room(n)) return;
    if (n != 0) {
        if (mode_ == Mode::Write) std::memcpy(buf_ + pos_, p, n);
        else if (mode_ == Mode::Read) std::memcpy(p, buf_ + pos_, n);
    }
    pos_ += n;
}

void WireCursor::zeros(size_t n) {
    if (!room(n)) return;
    if (mode_ == Mode::Write && n != 0) std::memset(buf_ + pos_, 0, n);
    pos_ += n;
}

void WireCursor::text(std::string& s) {
    uint32_t count = 0;
    if (mode_ != Mode::Read) {
        if (s.size() > UINT32_MAX) {
            ok_ = false;
            return;
        }
        count = static_cast<uint32_t>(s.size());
    }
    u32(count);
    if (!ok_) return;
    if (mode_ == Mode::Read) {
        if (count > end_ - pos_) {
            ok_ = false;
            return;
        }
        s.assign(reinterpret_cast<const char*>(buf_ + pos_), count);
        pos_ += count;
    } else {
        raw(s.data(), count);
    }
}

void WireCursor::shortText(std::string& s) {
    if (mode_ == Mode::Read) {
        uint8_t count = 0;
        u8(count);
        if (!ok_) return;
        if (count > end_ - pos_) {
            ok_ = false;
            return;
        }
        s.assign(reinterpret_cast<const char*>(buf_ + pos_), count);
        pos_ += count;
        return;
    }
    // The count is one byte: longer names are cut, never half a character.
    std::string_view cut = CutGbk(s, 255);
    uint8_t count = static_cast<uint8_t>(cut.size());
    u8(count);
    raw(const_cast<char*>(cut.data()), cut.size());
}

void WireCursor::fixedText(std::string& s, size_t width) {
    if (!room(width)) return;
    if (mode_ == Mode::Read) {
        const char* p = reinterpret_cast<const char*>(buf_ + pos_);
        s.assign(FieldText(p, width));
    } else if (mode_ == Mode::Write && width != 0) {
        CopyToField(reinterpret_cast<char*>(buf_ + pos_), width, s);
    }
    pos_ += width;
}

void WireCursor::rest(std::string& bytes) {
    if (!ok_) return;
    if (mode_ == Mode::Read) {
        bytes.assign(reinterpret_cast<const char*>(buf_ + pos_), end_ - pos_);
        pos_ = end_;
    } else {
        raw(bytes.data(), bytes.size());
    }
}

}  // namespace tessaro
