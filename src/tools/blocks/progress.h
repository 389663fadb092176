// The progress channel between a worker thread and its progress dialog: a locked
// queue of text items with their positions, the range, a closed flag (the
// worker's WM_CLOSE) and a cancel flag the worker tests between items.
//
// The worker pushes; the dialog (or the command line) pops. `notify` is called
// after every push, range and close, from the worker thread: the desktop program
// posts "WM_SETRANGE" / "WM_SETPROGRESS" from it into the event loop.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace tessaro {

struct ProgressItem {
    std::string text;  // UTF-8, at most 255 bytes (never half a character)
    int position = 0;
};

class ProgressQueue {
public:
    enum class Event { Range, Item, Closed };
    void SetNotify(std::function<void(Event)> notify) { notify_ = std::move(notify); }

    // Worker side.
    void SetRange(int count);
    void Push(std::string text, int position);
    void Close();
    bool cancelled() const { return cancel_.load(std::memory_order_acquire); }

    // Dialog side.
    int range() const;
    std::optional<ProgressItem> TryPop();
    // Waits for an item; nothing once the queue is closed and empty.
    std::optional<ProgressItem> WaitPop();
    bool closed() const;
    void Cancel() { cancel_.store(true, std::memory_order_release); }

private:
    void Notify(Event e) const {
        if (notify_) notify_(e);
    }
    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<ProgressItem> items_;
    int range_ = 0;
    bool closed_ = false;
    std::atomic<bool> cancel_{false};
    std::function<void(Event)> notify_;
};

// Runs `work` on a worker thread and closes the queue when it ends. Destroying
// (or Stop) sets the cancel flag and waits for the thread, as closing the dialog does.
class ProgressWorker {
public:
    ProgressWorker(ProgressQueue& queue, std::function<void(ProgressQueue&)> work);
    ~ProgressWorker() { Stop(); }
    ProgressWorker(const ProgressWorker&) = delete;
    ProgressWorker& operator=(const ProgressWorker&) = delete;
    // Waits for the work to end by itself.
    void Wait();
    // Cancels and waits.
    void Stop();

private:
    ProgressQueue& queue_;
    std::thread thread_;
};

}  // namespace tessaro
