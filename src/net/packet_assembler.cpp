#include "net/packet_assembler.h"

namespace tessaro {

PacketAssembler::PacketAssembler(Stream stream, uint32_t ownerWindow, uint32_t maxLength)
    : minLength_(stream == Stream::FromServer ? kReplyHeaderSize : kPacketHeaderSize),
      maxLength_(maxLength),
      owner_(ownerWindow) {}

bool PacketAssembler::Feed(ByteSpan data) {
    if (broken()) {
        // Whatever is still buffered can never be framed: free it now (the
        // spans Next handed out end here, as with any Feed).
        Bytes().swap(buf_);
        start_ = 0;
        return false;
    }
    // Delivered packets are dropped only here, so the spans Next handed out
    // stay valid until now.
    if (start_ == buf_.size()) {
        buf_.clear();
        start_ = 0;
    } else if (start_ > 0 && (start_ >= 65536 || start_ * 2 >= buf_.size())) {
        buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(start_));
        start_ = 0;
    }
    buf_.insert(buf_.end(), data.begin(), data.end());
    return CheckHead();
}

bool PacketAssembler::CheckHead() {
    if (broken()) return false;
    if (buffered() < kPacketHeaderSize) return true;
    uint32_t length = LoadLE<uint32_t>(buf_.data() + start_ + 12);
    if (length < minLength_) {
        error_ = "packet length " + std::to_string(length) + " below " + std::to_string(minLength_);
    } else if (length > maxLength_) {
        error_ = "packet length " + std::to_string(length) + " above the limit";
    }
    if (!broken()) return true;
    buf_.clear();
    start_ = 0;
    return false;
}

std::optional<PacketAssembler::Packet> PacketAssembler::Next() {
    if (broken() || buffered() < kPacketHeaderSize) return std::nullopt;
    PacketHeader h = LoadPacketHeader(buf_.data() + start_);
    if (buffered() < h.length) return std::nullopt;
    Packet p{ByteSpan(buf_.data() + start_, h.length), h, h.window ? h.window : owner_};
    start_ += h.length;
    // The following head, if already here, is checked at once so that a broken
    // stream is seen before the caller waits for more data. A span already
    // handed out stays valid: a broken stream clears the buffer's contents only
    // on the next Feed or Reset.
    if (buffered() >= kPacketHeaderSize) {
        uint32_t length = LoadLE<uint32_t>(buf_.data() + start_ + 12);
        if (length < minLength_ || length > maxLength_)
            error_ = "packet length " + std::to_string(length) + " out of range";
    }
    return p;
}

std::optional<PacketAssembler::Progress> PacketAssembler::HeadProgress() const {
    if (broken() || buffered() < kPacketHeaderSize) return std::nullopt;
    PacketHeader h = LoadPacketHeader(buf_.data() + start_);
    if (buffered() >= h.length) return std::nullopt;
    return Progress{h.window ? h.window : owner_, buffered(), h.length};
}

void PacketAssembler::Reset() {
    buf_.clear();
    start_ = 0;
    error_.clear();
}

}  // namespace tessaro
