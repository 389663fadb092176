#include "net/decompress.h"

#include <libdeflate.h>

#include <memory>

namespace tessaro {

const char* DecompressErrorText(DecompressError error) {
    switch (error) {
    case DecompressError::None: return "ok";
    case DecompressError::TooShort: return "packet shorter than its header";
    case DecompressError::BadLength: return "packet length below the reply header";
    case DecompressError::TooLarge: return "packet or payload length above the limit";
    case DecompressError::PayloadTooLong: return "payload longer than its stated raw length";
    case DecompressError::InflateFailed: return "payload does not inflate";
    case DecompressError::SizeMismatch: return "inflated payload differs from its stated raw length";
    case DecompressError::Unreachable: return "stated raw length beyond what the payload can inflate to";
    }
    return "unknown";
}

namespace {

// One decompressor per thread: it is not shared between threads and costs an allocation to make.
libdeflate_decompressor* ThreadDecompressor() {
    struct Free {
        void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
    };
    thread_local std::unique_ptr<libdeflate_decompressor, Free> decompressor(libdeflate_alloc_decompressor());
    return decompressor.get();
}

// One compressor per thread, as above. Level 4: a server compresses every push for every
// connection, so speed counts for more than the last few per cent of size.
libdeflate_compressor* ThreadCompressor() {
    struct Free {
        void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
    };
    thread_local std::unique_ptr<libdeflate_compressor, Free> compressor(libdeflate_alloc_compressor(4));
    return compressor.get();
}

}  // namespace

std::optional<Bytes> Decompress(ByteSpan packet, DecompressError* error) {
    auto failWith = [error](DecompressError e) -> std::optional<Bytes> {
        if (error) *error = e;
        return std::nullopt;
    };
    if (error) *error = DecompressError::None;
    if (packet.size() < kReplyHeaderSize) return failWith(DecompressError::TooShort);
    ReplyHeader h;
    std::memcpy(&h, packet.data(), sizeof h);
    uint32_t length = h.packet.length;
    if (length < kReplyHeaderSize) return failWith(DecompressError::BadLength);
    if (length > kMaxPacketLength || h.rawLength > kMaxPacketLength) return failWith(DecompressError::TooLarge);
    if (length > packet.size()) return failWith(DecompressError::TooShort);

    const uint8_t* payload = packet.data() + kReplyHeaderSize;
    size_t payloadSize = length - kReplyHeaderSize;
    bool compressed = (h.flags & kFlagCompressed) != 0;
    if (!compressed && payloadSize > h.rawLength) return failWith(DecompressError::PayloadTooLong);
    if (compressed && h.rawLength > payloadSize * kMaxInflateRatio) return failWith(DecompressError::Unreachable);

    // A plain payload is copied as it is (it may be shorter than rawLength);
    // an inflated one must come to exactly rawLength.
    Bytes out(kPacketHeaderSize + (compressed ? h.rawLength : payloadSize));
    size_t produced = payloadSize;
    if (compressed) {
        // A destination even for an empty payload.
        uint8_t empty = 0;
        uint8_t* dest = h.rawLength ? out.data() + kPacketHeaderSize : &empty;
        libdeflate_decompressor* inflater = ThreadDecompressor();
        if (!inflater) return failWith(DecompressError::InflateFailed);  // out of memory
        // Without an actual-size pointer the stream must fill the destination exactly; the
        // Adler-32 trailer is checked.
        switch (libdeflate_zlib_decompress(inflater, payload, payloadSize, dest, h.rawLength, nullptr)) {
        case LIBDEFLATE_SUCCESS: break;
        case LIBDEFLATE_SHORT_OUTPUT: return failWith(DecompressError::SizeMismatch);
        default: return failWith(DecompressError::InflateFailed);  // bad data, or more than rawLength
        }
        produced = h.rawLength;
    } else if (payloadSize) {
        std::memcpy(out.data() + kPacketHeaderSize, payload, payloadSize);
    }
    PacketHeader normalized = h.packet;
    normalized.length = static_cast<uint32_t>(kPacketHeaderSize + produced);
    std::memcpy(out.data(), &normalized, sizeof normalized);
    return out;
}

std::optional<Bytes> EncodeReplyPacket(ByteSpan normalized, bool compress) {
    if (normalized.size() < kPacketHeaderSize || normalized.size() > kMaxPacketLength) return std::nullopt;
    size_t rawLength = normalized.size() - kPacketHeaderSize;
    const uint8_t* payload = normalized.data() + kPacketHeaderSize;

    Bytes out;
    if (compress) {
        libdeflate_compressor* deflater = ThreadCompressor();
        if (!deflater) return std::nullopt;  // out of memory
        size_t bound = libdeflate_zlib_compress_bound(deflater, rawLength);
        out.resize(kReplyHeaderSize + bound);
        // The zlib format with its Adler-32 trailer, as every reader of the protocol expects.
        size_t packed = libdeflate_zlib_compress(deflater, payload, rawLength, out.data() + kReplyHeaderSize, bound);
        if (packed == 0) return std::nullopt;
        out.resize(kReplyHeaderSize + packed);
    } else {
        out.resize(kReplyHeaderSize + rawLength);
        if (rawLength) std::memcpy(out.data() + kReplyHeaderSize, payload, rawLength);
    }
    if (out.size() > kMaxPacketLength) return std::nullopt;

    ReplyHeader h;
    h.packet = LoadPacketHeader(normalized.data());
    h.packet.length = static_cast<uint32_t>(out.size());
    h.flags = compress ? kFlagCompressed : 0;
    h.rawLength = static_cast<uint32_t>(rawLength);
    std::memcpy(out.data(), &h, sizeof h);
    return out;
}

std::optional<Bytes> EncodeReply(const Message& message, bool compress) {
    std::optional<Bytes> normalized = message.Encode();
    if (!normalized) return std::nullopt;
    return EncodeReplyPacket(*normalized, compress);
}

}  // namespace tessaro
