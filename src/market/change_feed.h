// Change notices of the market store.
//
// A window does not poll 5,000 securities to learn which of them moved: it
// holds a ChangeFeed and drains it from its own thread, at its own pace. The
// store records into every live feed while it holds a market's lock, which is
// why recording is a flag write plus, the first time a security changes
// between two drains, one append: no callback ever runs under the market lock.
// Repeated changes of one security between two drains fold into one entry.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/security_id.h"

namespace tessaro {

// What changed about a security (bits, combined per security between drains).
enum ChangeKind : unsigned {
    kChangeQuote = 1,     // the quote snapshot or order book
    kChangeMinutes = 2,   // today's minute bars
    kChangeTicks = 4,     // today's ticks
    kChangeCapital = 8,   // capital in force, capital changes, finance or ex-rights
};

struct SecurityChange {
    SecurityId id;
    unsigned kinds = 0;
};

// What a drain returns. A market in `marketsReset` (bit 1 << slot, as the
// store's market masks) was reloaded, cleared or opened a new day: everything
// in it is to be read again, and its per-security entries are not listed.
struct ChangeSet {
    std::vector<SecurityChange> securities;
    unsigned marketsReset = 0;

    bool empty() const { return securities.empty() && marketsReset == 0; }
};

class ChangeFeed {
public:
    ChangeFeed();

    // Takes everything recorded since the last drain. `into` keeps its
    // capacity, so a consumer draining every tick allocates nothing.
    void Drain(ChangeSet& into);
    ChangeSet Drain();
    bool Pending() const;

    // Called by the store (under a market lock; takes only this feed's lock).
    void Record(int marketSlot, int recordSlot, const SecurityId& id, unsigned kinds);
    void RecordReset(int marketSlot);

private:
    static constexpr int kSlotsPerMarket = 4096;
    static constexpr int kMarkets = 3;
    static constexpr int32_t kNotListed = -1;

    mutable std::mutex mutex_;
    ChangeSet pending_;
    // Position of each (market, record slot) in pending_.securities, or kNotListed.
    std::vector<int32_t> position_;
    std::vector<int32_t> listed_;  // the keys set in position_
};

// The store's list of feeds. Feeds are held weakly: a consumer stops
// receiving by dropping its feed.
class ChangeFeeds {
public:
    std::shared_ptr<ChangeFeed> Open();
    void Record(int marketSlot, int recordSlot, const SecurityId& id, unsigned kinds);
    void RecordReset(int marketSlot);

private:
    template <typename Fn>
    void ForEach(Fn&& fn);

    std::mutex mutex_;
    std::vector<std::weak_ptr<ChangeFeed>> feeds_;
};

}  // namespace tessaro
