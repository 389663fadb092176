#include "net/realtime_messages.h"

namespace tessaro {

void QuoteSubscribe::Fields(WireCursor& c) {
    c.text(tag);
    c.records(handles);
}

bool QuoteSubscribe::WithinLimits() const {
    return tag.size() <= kMaxSubscribeTagBytes && handles.size() <= kMaxSubscribeHandles;
}

void QuoteReply::Fields(WireCursor& c) { c.records(quotes); }

void TicksRequest::Fields(WireCursor& c) {
    c.u32(handle);
    c.u32(value1);
    c.u32(value2);
}

void TicksReply::Fields(WireCursor& c) {
    c.u32(handle);
    c.records(ticks);
}

void QuoteRefreshRequest::Fields(WireCursor& c) {
    c.u32(first);
    c.u32(count);
}

void QuoteRefreshReply::Fields(WireCursor& c) {
    c.u32(first);
    c.u32(total);
    c.records(quotes);
}

void MinutesRequest::Fields(WireCursor& c) {
    c.u32(handle);
    c.f32(newestVolume);
}

void MinutesReply::Fields(WireCursor& c) {
    c.u8(value1);
    c.u32(handle);
    c.u8(value2);
    c.records(minutes);
}

void RankPageRequest::Fields(WireCursor& c) {
    c.u32(kind);
    c.text(pageName);
    c.i32(sortField);
    c.u32(sortDirection);
    c.u32(firstRow);
    c.u32(rowCount);
}

void RankPageReply::Fields(WireCursor& c) {
    c.u32(kind);
    c.text(pageName);
    c.u32(firstRow);
    if (c.reading()) {
        quotes.clear();
        entries.clear();
    }
    if (kind == kRankPageBlock) {
        c.records(quotes);
    } else if (kind == kRankPageComprehensive) {
        c.records(entries);
    } else if (c.reading()) {
        std::string ignored;
        c.rest(ignored);
    }
}

void BarsRequest::Fields(WireCursor& c) {
    c.u32(handle);
    c.u16(period);
    c.u8(variant);
    switch (variant) {
    case 0:
        c.u32(from);
        c.u32(to);
        break;
    case 1:
        c.u16(first);
        c.u16(count);
        c.u8(optionA);
        c.u8(optionB);
        c.zeros(2);
        break;
    case 2:
        c.u32(anchor);
        c.u16(count);
        c.u8(optionA);
        c.u8(optionB);
        break;
    default:
        c.raw(range.data(), range.size());
        break;
    }
}

void BarsReply::Fields(WireCursor& c) {
    c.u32(handle);
    c.u16(period);
    c.raw(extra.data(), extra.size());
    c.records(bars);
}

void FlowSubscribe::Fields(WireCursor& c) { c.records(handles); }

void FlowPush::Fields(WireCursor& c) { c.records(records); }

void FlowRequest::Fields(WireCursor& c) {
    c.u32(handle);
    c.u32(newestIndex);
}

void FlowReply::Fields(WireCursor& c) {
    c.u32(handle);
    c.u8(value);
    c.records(figures);
}

}  // namespace tessaro
