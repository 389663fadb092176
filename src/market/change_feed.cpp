#include "market/change_feed.h"

#include <algorithm>

namespace tessaro {

ChangeFeed::ChangeFeed() : position_(static_cast<size_t>(kMarkets) * kSlotsPerMarket, kNotListed) {}

void ChangeFeed::Record(int marketSlot, int recordSlot, const SecurityId& id, unsigned kinds) {
    if (marketSlot < 0 || marketSlot >= kMarkets || recordSlot < 0 || recordSlot >= kSlotsPerMarket) return;
    std::lock_guard lock(mutex_);
    if (pending_.marketsReset & (1u << marketSlot)) return;  // the whole market is to be read anyway
    const size_t key = static_cast<size_t>(marketSlot) * kSlotsPerMarket + static_cast<size_t>(recordSlot);
    int32_t& at = position_[key];
    if (at == kNotListed) {
        at = static_cast<int32_t>(pending_.securities.size());
        pending_.securities.push_back({id, kinds});
        listed_.push_back(static_cast<int32_t>(key));
    } else {
        pending_.securities[static_cast<size_t>(at)].kinds |= kinds;
    }
}

void ChangeFeed::RecordReset(int marketSlot) {
    if (marketSlot < 0 || marketSlot >= kMarkets) return;
    std::lock_guard lock(mutex_);
    pending_.marketsReset |= 1u << marketSlot;
}

void ChangeFeed::Drain(ChangeSet& into) {
    into.securities.clear();
    into.marketsReset = 0;
    {
        std::lock_guard lock(mutex_);
        std::swap(into, pending_);
        // Only the listed positions are cleared: a drain costs what changed,
        // not the 12,288 slots of the three markets.
        for (int32_t key : listed_) position_[static_cast<size_t>(key)] = kNotListed;
        listed_.clear();
    }
    const unsigned reset = into.marketsReset;
    if (reset != 0)
        std::erase_if(into.securities,
                      [reset](const SecurityChange& c) { return (reset & (1u << MarketSlot(c.id.market))) != 0; });
}

ChangeSet ChangeFeed::Drain() {
    ChangeSet out;
    Drain(out);
    return out;
}

bool ChangeFeed::Pending() const {
    std::lock_guard lock(mutex_);
    return !pending_.empty();
}

std::shared_ptr<ChangeFeed> ChangeFeeds::Open() {
    auto feed = std::make_shared<ChangeFeed>();
    std::lock_guard lock(mutex_);
    feeds_.push_back(feed);
    return feed;
}

template <typename Fn>
void ChangeFeeds::ForEach(Fn&& fn) {
    std::lock_guard lock(mutex_);
    std::erase_if(feeds_, [](const std::weak_ptr<ChangeFeed>& w) { return w.expired(); });
    for (const std::weak_ptr<ChangeFeed>& weak : feeds_)
        if (std::shared_ptr<ChangeFeed> feed = weak.lock()) fn(*feed);
}

void ChangeFeeds::Record(int marketSlot, int recordSlot, const SecurityId& id, unsigned kinds) {
    ForEach([&](ChangeFeed& feed) { feed.Record(marketSlot, recordSlot, id, kinds); });
}

void ChangeFeeds::RecordReset(int marketSlot) {
    ForEach([&](ChangeFeed& feed) { feed.RecordReset(marketSlot); });
}

}  // namespace tessaro
