// Ex-rights adjustment of bar prices: forward (the default) rescales the bars
// before each event to today's terms; backward rescales the bars from each event
// on to the terms before it. Volumes and amounts are never adjusted.
#pragma once

#include <cstddef>

#include "market/records.h"

namespace tessaro {

// Flags of LoadSeries and AdjustExRights (the charts' ex-rights mode).
inline constexpr int kExRightsNone = 1;      // bit 0: no adjustment
inline constexpr int kExRightsBackward = 2;  // bit 1: backward adjustment (default forward)

// Store day of an event's ex-date (the record holds seconds since 1970 UTC).
uint32_t ExRightsDay(const ExRightsRecord& r);

// Adjusts open, high, low and close of `bars` in place. Only events whose ex-date day
// is not later than the day of the newest time (the later of newestTime and the last
// bar's time) take part.
//  forward:  each bar before an event: p' = (p - dividend + rights * rightsPrice) / (1 + bonus + rights),
//            events in date order;
//  backward: each bar on or after an event: p' = p * (1 + bonus + rights) - rights * rightsPrice + dividend,
//            events from the newest to the oldest.
// Events whose factor 1 + bonus + rights is not positive, or that hold a non-finite
// figure, are ignored (they would divide by zero or poison every price). A price that
// is zero (missing) stays zero. The events need not be sorted.
void AdjustExRights(const ExRightsRecord* records, size_t recordCount, KLineRecord* bars, size_t count,
                    StoreTime newestTime, int flags);

}  // namespace tessaro
