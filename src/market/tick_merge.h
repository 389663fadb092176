// Merging a batch of ticks from the server into the ticks stored today.
//
// The server re-sends overlapping runs of ticks; a tick is identified by its
// cumulative volume. The stored run is kept in ascending cumulative volume with
// strictly increasing times (equal times are spread one second apart), so that
// a chart can treat every tick as its own instant.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "market/records.h"

namespace tessaro {

// Volumes and prices within this distance count as equal.
inline constexpr float kTickEpsilon = 0.00001f;

// Drops the ticks of a received batch that cannot be stored and moves the rest
// to the front, in order; returns how many are kept. With k ticks kept so far, the
// tick at position j is kept when
// (a) nothing was dropped yet, or it is later than the received tick at position k;
// (b) it is the first, or the security has no volume today, or its cumulative
//     volume exceeds the received tick before it by more than kTickEpsilon;
// (c) its time is set (at least 100 as system time), not later than the
//     security's snapshot time, its price above 0, and its price, volume and
//     amount are finite.
size_t CompactReceivedTicks(std::span<TickRecord> batch, float volumeToday, StoreTime snapshotTime);

// Orders ticks for merging: by cumulative volume; when the security has no
// volume today, equal volumes are ordered by time.
bool TickBefore(const TickRecord& a, const TickRecord& b, bool byTime);
// The same tick seen twice: equal volume (and equal time when ordered by time).
bool SameTick(const TickRecord& a, const TickRecord& b, bool byTime);

// True for the first stored tick the merge of `firstKept` starts at: the first
// whose cumulative volume is not below the kept tick's, or, when the security
// has no volume today, whose time is not earlier.
bool MergeStartsAt(const TickRecord& stored, const TickRecord& firstKept, bool noVolumeToday);

// Merges stored ticks (from the merge point on) with kept ticks in ascending
// order; of two ticks that are the same only the stored one stays. Every merged
// tick not later than its predecessor gets the predecessor's time + 1 second;
// the first one's predecessor time is `predecessorTime` (0: none).
std::vector<TickRecord> MergeTicks(std::span<const TickRecord> stored, std::span<const TickRecord> kept,
                                   bool noVolumeToday, StoreTime predecessorTime);

}  // namespace tessaro
