// Server packets on the wire and the normalized packets the handlers read.
//
// A server packet is the 21-byte ReplyHeader and a payload that is either
// plain or a zlib stream (flags bit 0). Decompress turns it into the
// normalized packet every Read works on: the 16-byte header, with `length`
// set to 16 + the payload length, followed by the plain payload.
#pragma once

#include <optional>

#include "net/message.h"
#include "net/wire.h"
#include "platform/bytes.h"

namespace tessaro {

enum class DecompressError {
    None,
    TooShort,        // fewer than 21 bytes, or fewer than the header's length
    BadLength,       // header length below 21
    TooLarge,        // length or rawLength above kMaxPacketLength
    PayloadTooLong,  // a plain payload longer than rawLength
    InflateFailed,   // not a zlib stream, or it inflates to more than rawLength
    SizeMismatch,    // the stream inflated to fewer bytes than rawLength
    Unreachable,     // rawLength more than the compressed bytes could ever inflate to
};

// Deflate cannot expand by more than 1032 : 1 (a 258-byte match per 2 bits),
// so a compressed payload of n bytes never inflates to more than 1032 n. A
// rawLength beyond that is refused before its buffer is allocated: a 30-byte
// packet must not make the client zero 64 MiB.
inline constexpr uint64_t kMaxInflateRatio = 1032;

const char* DecompressErrorText(DecompressError error);

// The normalized packet of the server packet at the start of `packet`, or
// nothing (with the reason in *error) when the packet is malformed. Nothing is
// allocated before the lengths have been checked against the cap.
std::optional<Bytes> Decompress(ByteSpan packet, DecompressError* error = nullptr);

// The server's side: a normalized packet (as Message::Encode writes it) in
// wire form, its payload deflated when `compress` is set.
std::optional<Bytes> EncodeReplyPacket(ByteSpan normalized, bool compress);
std::optional<Bytes> EncodeReply(const Message& message, bool compress);

}  // namespace tessaro
