// Reassembly of packets from a byte stream, without a socket.
//
// The socket hands every arrival to Feed, in whatever pieces the network cut
// it; Next then yields each complete packet once, in order, with the window it
// is addressed to. A header whose length is below the smallest packet of the
// stream (21 bytes from the server, 16 from a client) or above the cap breaks
// the stream for good: it cannot be resynchronised, so the owner closes the
// connection instead of waiting for bytes that never frame a packet.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "net/wire.h"
#include "platform/bytes.h"

namespace tessaro {

class PacketAssembler {
public:
    // Which side's packets the stream carries.
    enum class Stream : uint8_t { FromServer, FromClient };

    struct Packet {
        ByteSpan bytes;       // the whole packet, header included
        PacketHeader header;
        uint32_t target;      // the header's window, or the owner window when that is 0
    };

    // How much of the packet at the head has arrived (for a progress bar).
    struct Progress {
        uint32_t target;
        size_t received;
        uint32_t length;
    };

    explicit PacketAssembler(Stream stream, uint32_t ownerWindow = 0,
                             uint32_t maxLength = kMaxPacketLength);

    // Appends an arrival. False when the stream is broken (now or before); the
    // bytes of a broken stream are dropped.
    bool Feed(ByteSpan data);
    bool Feed(const void* data, size_t size) {
        return Feed(ByteSpan(static_cast<const uint8_t*>(data), size));
    }

    // The next complete packet, removed from the buffer; nothing when the head
    // is incomplete or the stream is broken. The bytes stay valid until the
    // next Feed or Reset.
    std::optional<Packet> Next();

    // The head packet when it has its header but not yet all of its bytes.
    std::optional<Progress> HeadProgress() const;

    bool broken() const { return !error_.empty(); }
    const std::string& error() const { return error_; }
    // Bytes buffered and not yet delivered.
    size_t buffered() const { return buf_.size() - start_; }
    size_t minLength() const { return minLength_; }

    // Forgets everything, including a broken state (a new connection).
    void Reset();

private:
    // Checks the head's length once 16 bytes of it are buffered.
    bool CheckHead();

    size_t minLength_;
    uint32_t maxLength_;
    uint32_t owner_;
    Bytes buf_;
    size_t start_ = 0;  // first byte not yet delivered
    std::string error_;
};

}  // namespace tessaro
