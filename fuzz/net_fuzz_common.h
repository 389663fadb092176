// Shared by the protocol fuzz targets: read a packet with the class of its
// kind and check that what was read writes back stably.
#pragma once

#include "fuzz_check.h"
#include "net/message.h"
#include "net/realtime_messages.h"
#include "net/startup_messages.h"
#include "net/wire_records.h"

namespace tessaro::fuzz {

// Runs the record decoders over whatever a reply carried.
inline void DecodeRecords(Message& m) {
    ClassLookup classOf = [](const SecurityId& id) { return static_cast<uint16_t>(id.code[5] % 7); };
    if (auto* q = dynamic_cast<QuoteReply*>(&m)) {
        DecodedQuote out;
        for (const QuoteRecord& r : q->quotes) DecodeQuoteRecord(r, classOf, out);
    } else if (auto* r = dynamic_cast<RankPageReply*>(&m)) {
        DecodedQuote out;
        for (const QuoteRecord& rec : r->quotes) DecodeQuoteRecord(rec, classOf, out);
        int table;
        size_t row;
        for (size_t i = 0; i < r->entries.size(); ++i)
            if (RankTablePosition(i, r->entries.size(), table, row))
                Check(table >= 0 && table < kRankTables && row < r->rowsPerTable(), "rank table position");
    } else if (auto* c = dynamic_cast<CodeTableReply*>(&m)) {
        CodeEntry e;
        for (const CodeRecord& rec : c->records)
            if (DecodeCodeRecord(rec, e)) Check(e.nameText().size() <= 13 && e.id.codeText().size() == 6, "code entry");
    } else if (auto* b = dynamic_cast<BarsReply*>(&m)) {
        KLineRecord k;
        for (const BarRecord& rec : b->bars) DecodeBarRecord(rec, k);
    } else if (auto* t = dynamic_cast<TicksReply*>(&m)) {
        TickRecord k;
        for (const WireTick& rec : t->ticks) DecodeWireTick(rec, k);
    } else if (auto* n = dynamic_cast<MinutesReply*>(&m)) {
        TickRecord k;
        MinuteSlot s;
        for (const MinuteRecord& rec : n->minutes) DecodeMinuteRecord(rec, k, s);
    }
}

// Reads a normalized packet with the class of (sender, code); when that
// succeeds, writing it and reading it again must give the same bytes.
inline void ReadAndRewrite(Sender sender, const uint8_t* packet, size_t size) {
    if (size < kPacketHeaderSize) return;
    uint16_t code = LoadLE<uint16_t>(packet + 2);
    auto m = CreateMessage(sender, code);
    if (!m) return;
    if (!m->Read(packet, size)) return;
    DecodeRecords(*m);
    auto first = m->Encode();
    Check(first.has_value(), "a message that was read can be written");
    auto again = CreateMessage(sender, code);
    Check(again->Read(*first), "what was written can be read");
    auto second = again->Encode();
    Check(second.has_value() && *second == *first, "writing is stable");
}

}  // namespace tessaro::fuzz
