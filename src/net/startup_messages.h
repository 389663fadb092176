// Messages of the start-up chain, the server's own announcements and the data
// requests that are not real-time quote traffic (server list, code table,
// blocks, base files, past days, bar times, block ranking, information-page
// numbers, server load).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "net/message.h"
#include "net/wire_records.h"

namespace tessaro {

// A message of the header alone (16 bytes).
template <uint16_t Code>
class HeaderOnlyMessage : public Message {
public:
    HeaderOnlyMessage() : Message(Code) {}
};

using KeepAlive = HeaderOnlyMessage<kCodeKeepAlive>;  // both directions
using ServerListRequest = HeaderOnlyMessage<kCodeServerList>;
using CodeTableRequest = HeaderOnlyMessage<kCodeCodeTable>;
using BlockListRequest = HeaderOnlyMessage<kCodeBlockList>;
using LoadRequest = HeaderOnlyMessage<kCodeLoad>;
using ServerClose = HeaderOnlyMessage<kCodeServerClose>;
using ServerReinit = HeaderOnlyMessage<kCodeServerReinit>;

// 0x9001 from the server: a notice for the user.
class ServerNotice : public Message {
public:
    ServerNotice() : Message(kCodeServerNotice) {}
    uint32_t unused = 0;
    std::string text;  // GBK

protected:
    void Fields(WireCursor& c) override;
};

// 0xA002 from the server: the text of base/srvlist.txt.
class ServerListReply : public Message {
public:
    ServerListReply() : Message(kCodeServerList) {}
    std::string text;

protected:
    void Fields(WireCursor& c) override;
};

// 0xA003 from the server: the whole code table.
class CodeTableReply : public Message {
public:
    CodeTableReply() : Message(kCodeCodeTable) {}
    std::vector<CodeRecord> records;

protected:
    void Fields(WireCursor& c) override;
};

// 0xA004 from the server: the blocks it offers, with their file checksums.
class BlockListReply : public Message {
public:
    BlockListReply() : Message(kCodeBlockList) {}
    std::vector<BlockStampRecord> records;

protected:
    void Fields(WireCursor& c) override;
};

// 0xA005 from the client: the member file of one block.
class BlockFileRequest : public Message {
public:
    BlockFileRequest() : Message(kCodeBlockFile) {}
    std::string blockName;

protected:
    void Fields(WireCursor& c) override;
};

// 0xA005 from the server.
class BlockFileReply : public Message {
public:
    BlockFileReply() : Message(kCodeBlockFile) {}
    std::string blockName;
    std::string fileBytes;  // to the end of the packet

protected:
    void Fields(WireCursor& c) override;
};

// Kinds of base file: finance.fin, Power.pwr, download.fml.
enum BaseFileKind : uint32_t { kBaseFileFinance = 1, kBaseFilePower = 2, kBaseFileFormulas = 3 };

// 0xA006 from the client: a base file, with the checksum of the local copy.
class BaseFileRequest : public Message {
public:
    BaseFileRequest() : Message(kCodeBaseFile) {}
    uint32_t kind = 0;
    uint32_t checksum = 0;

protected:
    void Fields(WireCursor& c) override;
};

// 0xA006 from the server.
class BaseFileReply : public Message {
public:
    BaseFileReply() : Message(kCodeBaseFile) {}
    uint32_t kind = 0;
    uint32_t checksum = 0;
    std::string fileBytes;  // to the end of the packet; empty: see the handler

protected:
    void Fields(WireCursor& c) override;
};

// 0xB00C from the client: the minutes of a past day; step 0 that day, -1 the
// trading day before, +1 the one after.
class DayMinutesRequest : public Message {
public:
    DayMinutesRequest() : Message(kCodeDayMinutes) {}
    SecurityHandle handle = 0;
    uint32_t day = 0;  // wire time
    int32_t step = 0;

protected:
    void Fields(WireCursor& c) override;
};

// 0xB00C from the server.
class DayMinutesReply : public Message {
public:
    DayMinutesReply() : Message(kCodeDayMinutes) {}
    SecurityHandle handle = 0;
    uint32_t day = 0;  // the day served, wire time
    DayRecord dayRecord;
    std::vector<MinuteRecord> minutes;

    // The first word of the day record: the day's time (wire time).
    uint32_t dayRecordTime() const { return LoadLE<uint32_t>(dayRecord.bytes); }

protected:
    void Fields(WireCursor& c) override;
};

// 0xB00D from the client: the times of the bars the server holds since a time.
class BarTimesRequest : public Message {
public:
    BarTimesRequest() : Message(kCodeBarTimes) {}
    SecurityHandle handle = 0;
    uint16_t period = 0;  // 8 day, 4 five-minute
    uint32_t since = 0;   // wire time

protected:
    void Fields(WireCursor& c) override;
};

// 0xB00D from the server.
class BarTimesReply : public Message {
public:
    BarTimesReply() : Message(kCodeBarTimes) {}
    SecurityHandle handle = 0;
    uint16_t period = 0;
    std::vector<uint32_t> times;  // wire times

protected:
    void Fields(WireCursor& c) override;
};

// 0xB00F from the client: the detail of an index's past day.
class DayDetailRequest : public Message {
public:
    DayDetailRequest() : Message(kCodeDayDetail) {}
    SecurityHandle handle = 0;
    uint32_t day = 0;  // the first word of the day record

protected:
    void Fields(WireCursor& c) override;
};

// 0xB00F from the server.
class DayDetailReply : public Message {
public:
    DayDetailReply() : Message(kCodeDayDetail) {}
    uint32_t value = 0;
    std::vector<DayDetailRecord> records;

protected:
    void Fields(WireCursor& c) override;
};

// 0xB012 from the server: three counters per market.
class MarketCountsPush : public Message {
public:
    MarketCountsPush() : Message(kCodeMarketCounts) {}
    std::vector<MarketCountRecord> records;

protected:
    void Fields(WireCursor& c) override;
};

// 0xB017 from the client: a block ranking, or the ranking of one block's securities.
class BlockRankRequest : public Message {
public:
    BlockRankRequest() : Message(kCodeBlockRankRequest) {}
    std::string blockName;  // empty: rank the blocks
    uint32_t value1 = 0, value2 = 0;

protected:
    void Fields(WireCursor& c) override;
};

// 0xB017 from the server: a plain-text answer to a block ranking request.
class BlockRankText : public Message {
public:
    BlockRankText() : Message(kCodeBlockRankRequest) {}
    uint32_t value = 0;
    std::string text;

protected:
    void Fields(WireCursor& c) override;
};

// 0xB018 from the server: the ranking itself. Names carry a one-byte length.
class BlockRankReply : public Message {
public:
    BlockRankReply() : Message(kCodeBlockRankReply) {}

    struct RankedItem {
        std::string name;
        uint32_t value = 0;
        std::array<uint8_t, 16> figures{};
        uint16_t count1 = 0, count2 = 0;
    };
    struct LeaderItem {
        std::string name;
        uint32_t value = 0;
        std::array<uint8_t, 16> figures{};
    };

    std::string blockName;
    uint32_t value = 0;
    std::vector<RankedItem> ranked;
    std::vector<LeaderItem> leaders;

protected:
    void Fields(WireCursor& c) override;
};

// 0xB019 from the client: the content numbers of the information pages.
class InfoIndexRequest : public Message {
public:
    InfoIndexRequest() : Message(kCodeInfoIndexRequest) {}
    // notice, market information (always sent as -1), video, scrolling message
    std::array<uint32_t, 4> numbers{};

protected:
    void Fields(WireCursor& c) override;
};

// 0xB020 from the server.
class InfoIndexReply : public Message {
public:
    InfoIndexReply() : Message(kCodeInfoIndexReply) {}
    std::array<uint32_t, 4> numbers{};  // notice, market information, video, scrolling message
    std::array<uint8_t, 4> extra{};

protected:
    void Fields(WireCursor& c) override;
};

// 0x5010 from the server: its load in percent.
class LoadReply : public Message {
public:
    LoadReply() : Message(kCodeLoad) {}
    uint32_t load = 0;

protected:
    void Fields(WireCursor& c) override;
};

}  // namespace tessaro
