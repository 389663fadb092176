#include "net/wire_records.h"

#include <cmath>
#include <cstddef>
#include <cstring>

#include "net/wire.h"
#include "platform/text.h"

namespace tessaro {

namespace {

// True when every float in the byte range [from, to) of a packed record is
// finite. Read by memcpy: the record's floats are unaligned.
bool FiniteFloats(const void* record, size_t from, size_t to) {
    const auto* p = static_cast<const uint8_t*>(record);
    for (size_t at = from; at + sizeof(float) <= to; at += sizeof(float)) {
        float v;
        std::memcpy(&v, p + at, sizeof v);
        if (!std::isfinite(v)) return false;
    }
    return true;
}

}  // namespace

float LotSize(uint16_t securityClass) {
    if (securityClass == kClassIndex) return 0.0f;
    if (securityClass == kClassBond) return 10.0f;
    return 100.0f;
}

bool DecodeQuoteRecord(const QuoteRecord& in, const ClassLookup& classOf, DecodedQuote& out) {
    out = DecodedQuote{};
    std::optional<SecurityId> id = DecodeSecurityHandle(in.handle);
    if (!id) return false;
    // prevClose .. tradeVolume, then riseSpeedPrice .. avgVolume5 (the direction byte sits between).
    if (!FiniteFloats(&in, offsetof(QuoteRecord, prevClose), offsetof(QuoteRecord, tradeDirection)) ||
        !FiniteFloats(&in, offsetof(QuoteRecord, riseSpeedPrice), sizeof(QuoteRecord)))
        return false;
    // A time the store cannot hold would wrap to the last century.
    if (!WireTimeFitsStore(in.time)) return false;

    out.entry.id = *id;
    out.entry.securityClass = classOf ? classOf(*id) : 0;
    out.wireTime = in.time;

    QuoteSnapshot& s = out.snapshot;
    s.avgVolume5 = in.avgVolume5;
    s.prevClose = in.prevClose;
    s.price5MinAgo = in.riseSpeedPrice;
    s.bar.time = WireToStoreTime(in.time);
    s.bar.open = in.open;
    s.bar.high = in.high;
    s.bar.low = in.low;
    s.bar.close = in.last;
    s.bar.volume = in.volume;
    s.bar.amount = in.amount;
    for (int i = 0; i < 5; ++i) {
        s.book.bidPrice[i] = in.bidPrice[i];
        s.book.bidVolume[i] = in.bidVolume[i];
        s.book.askPrice[i] = in.askPrice[i];
        s.book.askVolume[i] = in.askVolume[i];
    }
    s.lastTrade.volume = in.tradeVolume;
    s.lastTrade.amount = in.tradeVolume * in.last * LotSize(out.entry.securityClass);
    s.lastTrade.direction = in.tradeDirection;
    s.lastTrade.sellVolume = in.sellVolume;
    s.lastTrade.buyVolume = in.buyVolume;
    return true;
}

QuoteRecord EncodeQuoteRecord(SecurityHandle handle, const QuoteSnapshot& s) {
    QuoteRecord r;
    r.handle = handle;
    r.time = StoreToWireTime(s.bar.time);
    r.prevClose = s.prevClose;
    r.open = s.bar.open;
    r.high = s.bar.high;
    r.low = s.bar.low;
    r.last = s.bar.close;
    r.volume = s.bar.volume;
    r.amount = s.bar.amount;
    for (int i = 0; i < 5; ++i) {
        r.bidPrice[i] = s.book.bidPrice[i];
        r.bidVolume[i] = s.book.bidVolume[i];
        r.askPrice[i] = s.book.askPrice[i];
        r.askVolume[i] = s.book.askVolume[i];
    }
    r.tradeVolume = s.lastTrade.volume;
    r.tradeDirection = s.lastTrade.direction;
    r.riseSpeedPrice = s.price5MinAgo;
    r.sellVolume = s.lastTrade.sellVolume;
    r.buyVolume = s.lastTrade.buyVolume;
    r.avgVolume5 = s.avgVolume5;
    return r;
}

bool DecodeCodeRecord(const CodeRecord& in, CodeEntry& out) {
    out = CodeEntry{};
    std::optional<SecurityId> id = DecodeSecurityHandle(in.handle);
    if (!id) return false;
    out.id = *id;
    // The field may be full without a NUL; the entry keeps at most 13 bytes.
    out.setName(CutGbk(FieldText(in.name), 13));
    return true;
}

CodeRecord EncodeCodeRecord(SecurityHandle handle, std::string_view gbkName) {
    CodeRecord r;
    r.handle = handle;
    CopyToField(r.name, gbkName);
    return r;
}

bool DecodeWireTick(const WireTick& in, TickRecord& out) {
    out = TickRecord{};
    if (!FiniteFloats(&in, offsetof(WireTick, price), offsetof(WireTick, direction))) return false;
    if (!WireTimeFitsStore(in.time)) return false;
    out.time = WireToStoreTime(in.time);
    out.price = in.price;
    out.volume = in.volume;
    out.amount = in.amount;
    out.direction = in.direction;
    return true;
}

WireTick EncodeWireTick(const TickRecord& t) {
    WireTick w;
    w.time = StoreToWireTime(t.time);
    w.price = t.price;
    w.volume = t.volume;
    w.amount = t.amount;
    w.direction = t.direction;
    return w;
}

bool DecodeMinuteRecord(const MinuteRecord& in, TickRecord& tick, MinuteSlot& slot) {
    tick = TickRecord{};
    slot = MinuteSlot{};
    if (!FiniteFloats(&in, offsetof(MinuteRecord, price), sizeof(MinuteRecord))) return false;
    if (!WireTimeFitsStore(in.time)) return false;
    StoreTime t = WireToStoreTime(in.time);
    tick.time = t;
    tick.price = in.price;
    tick.volume = in.volume;
    tick.amount = in.amount;
    slot.time = t;
    slot.open = slot.high = slot.low = slot.close = in.price;
    slot.volume = in.volume;
    slot.amount = in.amount;
    return true;
}

MinuteRecord EncodeMinuteRecord(const MinuteSlot& slot) {
    MinuteRecord r;
    r.time = StoreToWireTime(slot.time);
    r.price = slot.close;
    r.volume = slot.volume;
    r.amount = slot.amount;
    return r;
}

bool DecodeBarRecord(const BarRecord& in, KLineRecord& out) {
    out = KLineRecord{};
    if (!FiniteFloats(&in, offsetof(BarRecord, open), offsetof(BarRecord, count1))) return false;
    if (!WireTimeFitsStore(in.time)) return false;
    out.time = WireToStoreTime(in.time);
    out.open = in.open;
    out.high = in.high;
    out.low = in.low;
    out.close = in.close;
    out.volume = in.volume;
    out.amount = in.amount;
    out.count1 = in.count1;
    out.count2 = in.count2;
    return true;
}

BarRecord EncodeBarRecord(const KLineRecord& bar) {
    BarRecord r;
    r.time = StoreToWireTime(bar.time);
    r.open = bar.open;
    r.high = bar.high;
    r.low = bar.low;
    r.close = bar.close;
    r.volume = bar.volume;
    r.amount = bar.amount;
    r.count1 = bar.count1;
    r.count2 = bar.count2;
    return r;
}

bool RankTablePosition(size_t index, size_t count, int& table, size_t& row) {
    size_t perTable = count / kRankTables;
    if (perTable == 0 || index >= perTable * kRankTables) return false;
    table = static_cast<int>(index / perTable);
    row = index % perTable;
    return true;
}

}  // namespace tessaro
