// The message object model: every request is written and every reply read
// through a class derived from Message.
//
// A message holds the header fields and describes its own fields once, in wire
// order (Fields); Size, Write and Read all run that one description, so a kind
// cannot be written one way and read another. Read works on a normalized
// packet: the 16-byte header followed by the plain payload (see decompress.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "net/wire.h"
#include "platform/bytes.h"

namespace tessaro {

// Message codes. Where both sides use a code, the request and the reply share it.
enum MessageCode : uint16_t {
    kCodeLogin = 0x4001,
    kCodeServerClose = 0x9000,
    kCodeServerNotice = 0x9001,
    kCodeKeepAlive = 0xA000,
    kCodeServerList = 0xA002,
    kCodeCodeTable = 0xA003,
    kCodeBlockList = 0xA004,
    kCodeBlockFile = 0xA005,
    kCodeBaseFile = 0xA006,
    kCodeServerReinit = 0xA007,
    kCodeQuoteSubscribe = 0xB001,
    kCodeQuoteReply = 0xB002,
    kCodeTicks = 0xB004,
    kCodeQuoteRefresh = 0xB00B,
    kCodeDayMinutes = 0xB00C,
    kCodeBarTimes = 0xB00D,
    kCodeMinutes = 0xB00E,
    kCodeDayDetail = 0xB00F,
    kCodeMarketCounts = 0xB012,
    kCodeFlowSubscribe = 0xB014,
    kCodeBlockRankRequest = 0xB017,  // also the server's plain-text answer
    kCodeBlockRankReply = 0xB018,
    kCodeInfoIndexRequest = 0xB019,
    kCodeInfoIndexReply = 0xB020,
    kCodeRankPageRequest = 0x5005,
    kCodeRankPageReply = 0x5006,
    kCodeBars = 0x500A,
    kCodeLoad = 0x5010,
    kCodeFlowPush = 0x5011,
    kCodeFlow = 0x5016,
};

class Message {
public:
    explicit Message(uint16_t messageCode) : code(messageCode) {}
    virtual ~Message() = default;

    // Total packet length: 16 for a header-only message, else 16 + the fields.
    virtual size_t Size() const;
    // Writes the header (length = Size()) and the fields. False when the buffer
    // is null, the capacity is below 2, a field would pass the capacity, or the
    // message breaks a limit of its kind (nothing usable is written then).
    virtual bool Write(uint8_t* buffer, size_t capacity) const;
    // Reads the header and the fields from a normalized packet of `size` bytes.
    // False as soon as a fixed field or a String passes the end of the packet,
    // which is the header's length; a length above size is a truncated packet.
    virtual bool Read(const uint8_t* packet, size_t size);

    // The packet of exactly Size() bytes, or nothing when Write fails.
    std::optional<Bytes> Encode() const;
    bool Read(ByteSpan packet) { return Read(packet.data(), packet.size()); }

    PacketHeader header() const { return PacketHeader{magic, code, serial, window, length}; }

    uint16_t magic = kPacketMagic;
    uint16_t code = 0;
    uint32_t serial = 0;
    uint32_t window = 0;
    uint32_t length = 0;

protected:
    // The fields after the header, in wire order. Must be deterministic for a
    // given state: it runs once to measure and once to write.
    virtual void Fields(WireCursor& cursor) { (void)cursor; }
    // Limits of the kind, checked after a read and before a write.
    virtual bool WithinLimits() const { return true; }
};

// The process-wide request serial: incremented before each request, the new
// value is the request's serial. One counter serves every window.
class SerialCounter {
public:
    uint32_t Next() { return ++value_; }
    uint32_t current() const { return value_; }

private:
    uint32_t value_ = 0;
};

// Which side sends a kind: the client's requests, the server's replies.
enum class Sender : uint8_t { Client, Server };

struct MessageKind {
    uint16_t code;
    Sender sender;
    std::string_view name;
};

// Every kind of the catalogue: the client's requests, then the server's replies.
const std::vector<MessageKind>& MessageCatalogue();
// An empty message of the kind a side sends with this code, or null for a code
// that side never sends.
std::unique_ptr<Message> CreateMessage(Sender sender, uint16_t code);

}  // namespace tessaro
