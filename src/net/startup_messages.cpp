#include "net/startup_messages.h"

namespace tessaro {

void ServerNotice::Fields(WireCursor& c) {
    c.u32(unused);
    c.text(text);
}

void ServerListReply::Fields(WireCursor& c) { c.text(text); }

void CodeTableReply::Fields(WireCursor& c) { c.records(records); }

void BlockListReply::Fields(WireCursor& c) { c.records(records); }

void BlockFileRequest::Fields(WireCursor& c) { c.text(blockName); }

void BlockFileReply::Fields(WireCursor& c) {
    c.text(blockName);
    c.rest(fileBytes);
}

void BaseFileRequest::Fields(WireCursor& c) {
    c.u32(kind);
    c.u32(checksum);
}

void BaseFileReply::Fields(WireCursor& c) {
    c.u32(kind);
    c.u32(checksum);
    c.rest(fileBytes);
}

void DayMinutesRequest::Fields(WireCursor& c) {
    c.u32(handle);
    c.u32(day);
    c.i32(step);
}

void DayMinutesReply::Fields(WireCursor& c) {
    c.u32(handle);
    c.u32(day);
    c.value(dayRecord);
    c.records(minutes);
}

void BarTimesRequest::Fields(WireCursor& c) {
    c.u32(handle);
    c.u16(period);
    c.u32(since);
}

void BarTimesReply::Fields(WireCursor& c) {
    c.u32(handle);
    c.u16(period);
    c.records(times);
}

void DayDetailRequest::Fields(WireCursor& c) {
    c.u32(handle);
    c.u32(day);
}

void DayDetailReply::Fields(WireCursor& c) {
    c.u32(value);
    c.records(records);
}

void MarketCountsPush::Fields(WireCursor& c) { c.records(records); }

void BlockRankRequest::Fields(WireCursor& c) {
    c.text(blockName);
    c.u32(value1);
    c.u32(value2);
}

void BlockRankText::Fields(WireCursor& c) {
    c.u32(value);
    c.text(text);
}

namespace {

// A counted list: uint32 count, then the entries. When reading, a count larger
// than the packet can hold fails at the first entry that passes the end, so a
// hostile count never drives an allocation.
template <class Item, class Each>
void CountedList(WireCursor& c, std::vector<Item>& items, Each each) {
    uint32_t count = static_cast<uint32_t>(items.size());
    c.u32(count);
    if (c.reading()) {
        items.clear();
        for (uint32_t i = 0; i < count && c.ok(); ++i) {
            Item item;
            each(item);
            if (c.ok()) items.push_back(std::move(item));
        }
    } else {
        for (Item& item : items) each(item);
    }
}

}  // namespace

void BlockRankReply::Fields(WireCursor& c) {
    c.text(blockName);
    c.u32(value);
    CountedList(c, ranked, [&c](RankedItem& e) {
        c.shortText(e.name);
        c.u32(e.value);
        c.raw(e.figures.data(), e.figures.size());
        c.u16(e.count1);
        c.u16(e.count2);
    });
    CountedList(c, leaders, [&c](LeaderItem& e) {
        c.shortText(e.name);
        c.u32(e.value);
        c.raw(e.figures.data(), e.figures.size());
    });
}

void InfoIndexRequest::Fields(WireCursor& c) {
    for (uint32_t& n : numbers) c.u32(n);
    c.zeros(4);
}

void InfoIndexReply::Fields(WireCursor& c) {
    for (uint32_t& n : numbers) c.u32(n);
    c.raw(extra.data(), extra.size());
}

void LoadReply::Fields(WireCursor& c) { c.u32(load); }

}  // namespace tessaro
