// The quote protocol's framing and field encodings.
//
// Every packet starts with a 16-byte PacketHeader; packets from the server add
// a flags byte and the uncompressed payload length (the 21-byte ReplyHeader).
// All integers are little-endian and every structure is byte-packed.
//
// WireCursor is the one field codec: a message describes its fields once, in
// wire order, and the same description measures, writes and reads them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/store_time.h"

namespace tessaro {

inline constexpr uint16_t kPacketMagic = 0x444B;  // the bytes 'K', 'D'
inline constexpr size_t kPacketHeaderSize = 16;
inline constexpr size_t kReplyHeaderSize = 21;
inline constexpr uint8_t kFlagCompressed = 0x01;

// No packet, and no inflated payload, may exceed 64 MiB. The largest legitimate
// reply (a full code table or a base file) is a few MiB; anything bigger is a
// broken or hostile stream and is refused before a byte is allocated for it.
inline constexpr uint32_t kMaxPacketLength = 64u << 20;

#pragma pack(push, 1)

// 16 bytes at the start of every packet in both directions.
struct PacketHeader {
    uint16_t magic = kPacketMagic;
    uint16_t code = 0;
    uint32_t serial = 0;  // the server echoes the request's serial
    uint32_t window = 0;  // the requesting window; 0 = the connection's owner
    uint32_t length = 0;  // whole packet, header included
};
static_assert(sizeof(PacketHeader) == kPacketHeaderSize);

// 21 bytes at the start of every packet from the server.
struct ReplyHeader {
    PacketHeader packet;
    uint8_t flags = 0;       // bit 0: the payload is a zlib stream
    uint32_t rawLength = 0;  // payload length once inflated
};
static_assert(sizeof(ReplyHeader) == kReplyHeaderSize);

#pragma pack(pop)

// Reads the header at the start of a buffer of at least 16 bytes.
inline PacketHeader LoadPacketHeader(const uint8_t* p) {
    PacketHeader h;
    std::memcpy(&h, p, sizeof h);
    return h;
}

// Wire times are seconds since 1970-01-01 UTC; the store counts market time
// (UTC+8) from 1899-12-30. Both directions are modulo 2^32, so a time of 0 maps
// to a fixed store time that callers recognise by the wire value.
constexpr StoreTime WireToStoreTime(uint32_t wire) {
    return static_cast<StoreTime>(wire + static_cast<uint32_t>(kMarketUtcOffset + kStoreEpochToUnix));
}
// True when a wire time converts without wrapping: up to 2036-02-05 06:28:15 market time.
constexpr bool WireTimeFitsStore(uint32_t wire) {
    return static_cast<int64_t>(wire) + kMarketUtcOffset + kStoreEpochToUnix <= int64_t{0xFFFFFFFF};
}
constexpr uint32_t StoreToWireTime(StoreTime t) {
    return static_cast<uint32_t>(t - static_cast<uint32_t>(kMarketUtcOffset + kStoreEpochToUnix));
}

// Measures, writes or reads message fields over one buffer. Every operation is
// bounds-checked: a write that would pass the capacity or a read that would
// pass the end fails the cursor, and every later operation is a no-op.
class WireCursor {
public:
    enum class Mode : uint8_t { Measure, Write, Read };

    static WireCursor Measurer() { return WireCursor(Mode::Measure, nullptr, SIZE_MAX); }
    static WireCursor Writer(uint8_t* buffer, size_t capacity) {
        return WireCursor(Mode::Write, buffer, capacity);
    }
    static WireCursor Reader(const uint8_t* data, size_t size) {
        return WireCursor(Mode::Read, const_cast<uint8_t*>(data), size);
    }

    Mode mode() const { return mode_; }
    bool reading() const { return mode_ == Mode::Read; }
    bool writing() const { return mode_ == Mode::Write; }
    bool ok() const { return ok_; }
    // Bytes measured, written or read so far.
    size_t pos() const { return pos_; }
    // Bytes left before the end (read) or the capacity (write); 0 once failed.
    size_t remaining() const { return ok_ && mode_ != Mode::Measure ? end_ - pos_ : 0; }
    void fail() { ok_ = false; }

    // A trivially copyable value or packed record, as its bytes.
    template <class T>
    void value(T& v) {
        static_assert(std::is_trivially_copyable_v<T>);
        raw(&v, sizeof v);
    }
    void u8(uint8_t& v) { value(v); }
    void i8(int8_t& v) { value(v); }
    void u16(uint16_t& v) { value(v); }
    void u32(uint32_t& v) { value(v); }
    void i32(int32_t& v) { value(v); }
    void f32(float& v) { value(v); }

    // n bytes as they are.
    void raw(void* p, size_t n);
    // n zero bytes; skipped when reading.
    void zeros(size_t n);
    // String: uint32 byte count, then the bytes (GBK, no terminator). A count
    // passing the end fails the read; nothing is allocated for it.
    void text(std::string& s);
    // String with a one-byte count; longer text is cut at a character boundary.
    void shortText(std::string& s);
    // FixedText(width): NUL-padded, at most width - 1 bytes, cut at a character
    // boundary when written; read up to the first NUL or the field's end.
    void fixedText(std::string& s, size_t width);
    // Every byte up to the end of the packet (file bytes, trailing data).
    void rest(std::string& bytes);

    // Fixed-size records running to the end of the packet; a trailing partial
    // record is ignored when reading.
    template <class T>
    void records(std::vector<T>& list) {
        static_assert(std::is_trivially_copyable_v<T>);
        if (!ok_) return;
        if (mode_ == Mode::Read) {
            size_t n = (end_ - pos_) / sizeof(T);
            list.resize(n);
            if (n) std::memcpy(list.data(), buf_ + pos_, n * sizeof(T));
            pos_ = end_;
        } else {
            raw(list.data(), list.size() * sizeof(T));
        }
    }

private:
    WireCursor(Mode mode, uint8_t* buf, size_t end) : mode_(mode), buf_(buf), end_(end) {}
    bool room(size_t n) {
        if (!ok_) return false;
        if (mode_ != Mode::Measure && n > end_ - pos_) {
            ok_ = false;
            return false;
        }
        return true;
    }

    Mode mode_;
    uint8_t* buf_;
    size_t end_;
    size_t pos_ = 0;
    bool ok_ = true;
};

}  // namespace tessaro
