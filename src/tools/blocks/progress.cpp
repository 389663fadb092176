#include "tools/blocks/progress.h"

#include "platform/text.h"

namespace tessaro {

namespace {
// The longest prefix of UTF-8 text of at most `max` bytes that ends on a character.
std::string CutUtf8(std::string text, size_t max) {
    if (text.size() <= max) return text;
    size_t n = max;
    while (n > 0 && (static_cast<uint8_t>(text[n]) & 0xC0) == 0x80) --n;
    text.resize(n);
    return text;
}
}  // namespace

void ProgressQueue::SetRange(int count) {
    {
        std::lock_guard lock(mutex_);
        range_ = count;
    }
    Notify(Event::Range);
}

void ProgressQueue::Push(std::string text, int position) {
    {
        std::lock_guard lock(mutex_);
        items_.push_back({CutUtf8(std::move(text), 255), position});
    }
    ready_.notify_all();
    Notify(Event::Item);
}

void ProgressQueue::Close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    ready_.notify_all();
    Notify(Event::Closed);
}

int ProgressQueue::range() const {
    std::lock_guard lock(mutex_);
    return range_;
}

bool ProgressQueue::closed() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

std::optional<ProgressItem> ProgressQueue::TryPop() {
    std::lock_guard lock(mutex_);
    if (items_.empty()) return std::nullopt;
    ProgressItem item = std::move(items_.front());
    items_.pop_front();
    return item;
}

std::optional<ProgressItem> ProgressQueue::WaitPop() {
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [&] { return !items_.empty() || closed_; });
    if (items_.empty()) return std::nullopt;
    ProgressItem item = std::move(items_.front());
    items_.pop_front();
    return item;
}

ProgressWorker::ProgressWorker(ProgressQueue& queue, std::function<void(ProgressQueue&)> work) : queue_(queue) {
    thread_ = std::thread([this, work = std::move(work)] {
        try {
            work(queue_);
        } catch (...) {
            // The run ends; the dialog still gets its close.
        }
        queue_.Close();
    });
}

void ProgressWorker::Wait() {
    if (thread_.joinable()) thread_.join();
}

void ProgressWorker::Stop() {
    queue_.Cancel();
    Wait();
}

}  // namespace tessaro
