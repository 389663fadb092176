#include "net/message.h"

namespace tessaro {

size_t Message::Size() const {
    WireCursor measure = WireCursor::Measurer();
    // Measuring reads nothing and writes nothing: the fields are only counted.
    const_cast<Message*>(this)->Fields(measure);
    return kPacketHeaderSize + measure.pos();
}

bool Message::Write(uint8_t* buffer, size_t capacity) const {
    if (buffer == nullptr || capacity < 2) return false;
    if (!WithinLimits()) return false;
    size_t total = Size();
    if (total > kMaxPacketLength || total > capacity) return false;
    PacketHeader h{magic, code, serial, window, static_cast<uint32_t>(total)};
    std::memcpy(buffer, &h, sizeof h);
    WireCursor out = WireCursor::Writer(buffer + kPacketHeaderSize, capacity - kPacketHeaderSize);
    const_cast<Message*>(this)->Fields(out);
    return out.ok() && out.pos() + kPacketHeaderSize == total;
}

bool Message::Read(const uint8_t* packet, size_t size) {
    if (packet == nullptr || size < kPacketHeaderSize) return false;
    PacketHeader h = LoadPacketHeader(packet);
    // A packet shorter than its header says is truncated: act on none of it.
    if (h.length < kPacketHeaderSize || h.length > size) return false;
    size_t end = h.length;
    magic = h.magic;
    code = h.code;
    serial = h.serial;
    window = h.window;
    length = h.length;
    WireCursor in = WireCursor::Reader(packet + kPacketHeaderSize, end - kPacketHeaderSize);
    Fields(in);
    return in.ok() && WithinLimits();
}

std::optional<Bytes> Message::Encode() const {
    size_t total = Size();
    if (total > kMaxPacketLength) return std::nullopt;
    Bytes packet(total);
    if (!Write(packet.data(), packet.size())) return std::nullopt;
    return packet;
}

}  // namespace tessaro
