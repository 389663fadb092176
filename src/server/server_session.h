// One client connection of the quote server, without a socket or a clock.
//
// The transport hands every arrival to Feed and sends what TakeOutput returns;
// the event loop tells every session when the market moved (OnMarketChanged).
// The session reassembles request packets, answers each with the reply of its
// kind, keeps the connection's subscriptions and ranked pages, and refuses a
// client that breaks the protocol: a packet longer than the request limit, a
// length below a header, bytes past the receive bound, a request that does not
// read, or a code no client sends closes this connection (closeReason() says
// why) and nothing else.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/paths.h"
#include "net/message.h"
#include "net/packet_assembler.h"
#include "net/wire_records.h"
#include "platform/bytes.h"
#include "server/server_config.h"
#include "server/sim_market.h"

namespace tessaro {

// The files of the application directory the server hands out as they are on
// disk: the server list, the block files and the base files.
class ServerFiles {
public:
    explicit ServerFiles(AppPaths paths) : paths_(std::move(paths)) {}
    const AppPaths& paths() const { return paths_; }

    struct BlockFile {
        std::string name;  // GBK: the name inside the file, else the file's stem
        std::string path;
        uint32_t checksum = 0;
    };
    // Every block/*.blk, in name order.
    std::vector<BlockFile> Blocks() const;
    // The file of a block, the name compared ignoring ASCII case.
    std::optional<BlockFile> FindBlock(std::string_view nameGbk) const;
    // Members of a block file (SH and SZ securities only).
    std::vector<SecurityId> BlockMembers(const std::string& path) const;

    std::string ServerListText() const;
    // The bytes of base file kind 1, 2 or 3; nothing for another kind; empty for a missing file.
    std::optional<std::string> BaseFile(uint32_t kind) const;

private:
    AppPaths paths_;
};

// What every session of a server shares.
struct ServerContext {
    const ServerConfig* config = nullptr;
    SimMarket* market = nullptr;
    const ServerFiles* files = nullptr;
    uint32_t load = 0;  // percent, for LoadReply
};

class ServerSession {
public:
    ServerSession(const ServerContext& context, std::string peer);

    // Takes an arrival. False when the connection must be closed (now or before).
    bool Feed(ByteSpan data);
    // The packets to send since the last call, in wire form.
    std::vector<Bytes> TakeOutput();
    bool closed() const { return !closeReason_.empty(); }
    const std::string& closeReason() const { return closeReason_; }
    // Close once the queued output is flushed (ServerClose, ServerReinit, refused login).
    bool closeAfterFlush() const { return closeAfterFlush_; }
    bool loggedIn() const { return loggedIn_; }
    const std::string& account() const { return account_; }
    const std::string& peer() const { return peer_; }

    // The market moved: `changed[i]` is set for each security that traded.
    // Pushes subscribed quotes, flow figures and ranked pages that changed;
    // `newMinute` also pushes the market counts.
    void OnMarketChanged(const std::vector<char>& changed, bool newMinute);

    // Operator actions.
    void SendNotice(const std::string& gbkText);
    void SendClose();
    void SendReinit();

    // Subscriptions held (for tests and the log).
    size_t subscriptionCount() const { return quoteSubs_.size(); }
    size_t subscribedHandles() const;

    // The reply to one normalized request packet, or the reason to close. Public
    // for the fuzz target.
    bool Dispatch(ByteSpan packet);

private:
    struct RankPage {
        uint32_t kind = 0;
        std::string name;
        int32_t sortField = -1;
        uint32_t direction = 0;
        uint32_t firstRow = 0, rowCount = 0;
        uint32_t serial = 0;
        std::vector<int> members;  // securities of the page
        std::vector<int> shown;    // the rows last sent
    };
    using Key = std::pair<uint32_t, std::string>;  // window, tag or page name

    void Fail(std::string reason);
    void Emit(const Message& reply);
    void EmitGarbled(const PacketHeader& request);
    template <class Reply>
    void Answer(const PacketHeader& request, Reply& reply) {
        reply.serial = request.serial;
        reply.window = request.window;
        Emit(reply);
    }

    void HandleLogin(const PacketHeader& h, ByteSpan packet);
    void HandleSubscribe(const PacketHeader& h, ByteSpan packet);
    void HandleRankPage(const PacketHeader& h, ByteSpan packet);
    void SendRankPage(const Key& key, RankPage& page, bool force);
    std::vector<int> PageMembers(const std::string& name) const;
    std::vector<int> SortedRows(const RankPage& page) const;
    void HandleBars(const PacketHeader& h, ByteSpan packet);
    void HandleDayMinutes(const PacketHeader& h, ByteSpan packet);
    void HandleBlockRank(const PacketHeader& h, ByteSpan packet);
    void SendMarketCounts(uint32_t window);

    ServerContext ctx_;
    std::string peer_;
    PacketAssembler assembler_;
    std::vector<Bytes> output_;
    std::string closeReason_;
    bool closeAfterFlush_ = false;
    bool loggedIn_ = false;
    std::string account_;

    std::map<Key, std::vector<int>> quoteSubs_;   // securities by window and tag
    std::map<Key, uint32_t> quoteSubSerials_;
    std::map<uint32_t, std::vector<int>> flowSubs_;  // by window
    std::map<Key, RankPage> rankPages_;
};

}  // namespace tessaro
