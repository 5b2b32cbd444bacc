#include "serial/main_thread.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

namespace zp {

namespace {

struct Installed {
    std::mutex lock;
    std::shared_ptr<IMainThread> mainThread;
    std::thread::id mainId;
    std::shared_ptr<IErrorDisplay> display;
};

Installed& Registry() {
    // Never destroyed: workers may still call in while statics are torn down.
    static Installed* r = new Installed;
    return *r;
}

// Serialises calls while no main thread is installed; re-entrant because a
// handler may trigger another synchronised call.
std::recursive_mutex& InlineLock() {
    static std::recursive_mutex* m = new std::recursive_mutex;
    return *m;
}

// Runs in the main thread (or inline): checks the token, runs, reports.
TSyncResult RunHere(const TSyncToken* token, const std::function<void()>& call) {
    if (token != nullptr && token->Cancelled()) {
        return TSyncResult::Cancelled;
    }
    try {
        call();
        return TSyncResult::Ran;
    } catch (...) {
        ShowException(std::current_exception());
        return TSyncResult::Raised;
    }
}

}  // namespace

void InstallMainThread(std::shared_ptr<IMainThread> mainThread) {
    Installed& r = Registry();
    std::lock_guard<std::mutex> g(r.lock);
    r.mainThread = std::move(mainThread);
    r.mainId = r.mainThread ? std::this_thread::get_id() : std::thread::id();
}

void InstallErrorDisplay(std::shared_ptr<IErrorDisplay> display) {
    Installed& r = Registry();
    std::lock_guard<std::mutex> g(r.lock);
    r.display = std::move(display);
}

bool IsMainThread() {
    Installed& r = Registry();
    std::lock_guard<std::mutex> g(r.lock);
    return r.mainThread != nullptr && r.mainId == std::this_thread::get_id();
}

TSyncResult Synchronize(const std::function<void()>& call) {
    return Synchronize(nullptr, call);
}

TSyncResult Synchronize(const TSyncTokenPtr& token, const std::function<void()>& call) {
    std::shared_ptr<IMainThread> mainThread;
    bool here = false;
    {
        Installed& r = Registry();
        std::lock_guard<std::mutex> g(r.lock);
        mainThread = r.mainThread;
        here = mainThread != nullptr && r.mainId == std::this_thread::get_id();
    }
    if (here) {
        return RunHere(token.get(), call);
    }
    if (!mainThread) {
        std::lock_guard<std::recursive_mutex> g(InlineLock());
        return RunHere(token.get(), call);
    }
    if (token && token->Cancelled()) {
        return TSyncResult::Cancelled;
    }
    // The call's own captures are only touched when the token is still
    // valid in the main thread. The crossing returns only after the closure
    // ran or was dropped, so it may point into this frame; one pointer keeps
    // it within std::function's own storage, without an allocation per call.
    // The release/acquire pair makes the hand-over visible to the thread
    // sanitizer also when the installed crossing synchronises inside a
    // library it cannot see into (Qt's event queue).
    struct Crossing {
        std::atomic<int> handOver{0};
        TSyncResult result = TSyncResult::Cancelled;
        const TSyncToken* token;
        const std::function<void()>* call;
    } c;
    c.token = token.get();
    c.call = &call;
    const std::function<void()> wrapped = [cp = &c] {
        cp->handOver.load(std::memory_order_acquire);
        cp->result = RunHere(cp->token, *cp->call);
        cp->handOver.store(2, std::memory_order_release);
    };
    c.handOver.store(1, std::memory_order_release);
    bool ran = false;
    try {
        ran = mainThread->SynchronizeFor(token.get(), wrapped);
    } catch (...) {
        // The crossing itself failed; there is nobody in this thread to tell.
        ran = false;
    }
    if (c.handOver.load(std::memory_order_acquire) != 2) {
        return TSyncResult::Cancelled;
    }
    return ran ? c.result : TSyncResult::Cancelled;
}

void TSyncToken::Cancel() {
    cancelled_.store(true, std::memory_order_release);
    std::shared_ptr<IMainThread> mainThread;
    {
        Installed& r = Registry();
        std::lock_guard<std::mutex> g(r.lock);
        mainThread = r.mainThread;
    }
    if (mainThread) {
        mainThread->Abandon(this);
    }
}

bool TMainThreadQueue::Synchronize(const std::function<void()>& call) {
    return SynchronizeFor(nullptr, call);
}

bool TMainThreadQueue::SynchronizeFor(const TSyncToken* token, const std::function<void()>& call) {
    // On this stack: this thread returns only once the item is done, and
    // after that nobody touches it.
    Item mine;
    Item* const item = &mine;
    item->call = &call;
    item->token = token;
    std::unique_lock<std::mutex> l(lock_);
    // Checked under the lock: Cancel sets the flag before Abandon takes it,
    // so a call is either refused here or found in the queue there.
    if (shut_ || (token != nullptr && token->Cancelled())) {
        return false;
    }
    queue_.push_back(item);
    wake_.SetEvent();
    // Most calls take the main thread a few microseconds; waiting for that
    // without sleeping saves the wake-up back into this thread.
    l.unlock();
    SpinFor(kSpinUs, [item] { return item->done.load(std::memory_order_acquire); });
    l.lock();
    finished_.wait(l, [&] { return item->done.load(std::memory_order_relaxed); });
    return item->ran;
}

bool TMainThreadQueue::WaitForCall(uint32_t timeoutMs) {
    return wake_.WaitFor(timeoutMs) == WaitSignalled;
}

int TMainThreadQueue::RunPending() {
    // Only what is queued now: a worker that queues its next call while this
    // one runs must not keep the main loop from its other work.
    size_t budget = 0;
    {
        std::lock_guard<std::mutex> l(lock_);
        budget = queue_.size();
    }
    int n = 0;
    for (;;) {
        Item* item = nullptr;
        {
            std::lock_guard<std::mutex> l(lock_);
            if (queue_.empty()) {
                // Reset under the lock, so a call queued after this is never
                // left without the wake-up.
                wake_.ResetEvent();
                return n;
            }
            if (static_cast<size_t>(n) >= budget) {
                return n;  // the wake-up stays set for the rest
            }
            item = queue_.front();
            queue_.pop_front();
        }
        // The wrapper of Synchronize() catches; a bare call here still must
        // not leave its worker waiting forever.
        try {
            (*item->call)();
        } catch (...) {
            ShowException(std::current_exception());
        }
        {
            std::lock_guard<std::mutex> l(lock_);
            item->ran = true;
            item->done.store(true, std::memory_order_release);
        }
        finished_.notify_all();
        ++n;
    }
}

void TMainThreadQueue::Abandon(const TSyncToken* token) {
    if (token == nullptr) {
        return;
    }
    {
        std::lock_guard<std::mutex> l(lock_);
        for (auto it = queue_.begin(); it != queue_.end();) {
            Item* const item = *it;
            if (item->token != token) {
                ++it;
                continue;
            }
            it = queue_.erase(it);
            // Its worker may return as soon as this is seen: last touch.
            item->done.store(true, std::memory_order_release);
        }
        if (queue_.empty()) {
            wake_.ResetEvent();
        }
    }
    finished_.notify_all();
}

void TMainThreadQueue::Shut() {
    std::lock_guard<std::mutex> l(lock_);
    shut_ = true;
    for (auto& item : queue_) {
        item->done.store(true, std::memory_order_release);
    }
    queue_.clear();
    wake_.ResetEvent();
    finished_.notify_all();
}

void ShowErrorText(const std::string& text) {
    std::shared_ptr<IErrorDisplay> display;
    bool elsewhere = false;
    {
        Installed& r = Registry();
        std::lock_guard<std::mutex> g(r.lock);
        display = r.display;
        elsewhere = r.mainThread != nullptr && r.mainId != std::this_thread::get_id();
    }
    if (elsewhere) {
        // The display belongs to the main thread; without a main loop left,
        // standard error is the only place the text can still go.
        if (Synchronize([&text] { ShowErrorText(text); }) == TSyncResult::Cancelled) {
            std::fprintf(stderr, "%s\n", text.c_str());
        }
        return;
    }
    if (display) {
        try {
            display->ShowError(text);
            return;
        } catch (...) {
            // A failing display must not take the program down: fall back.
        }
    }
    std::fprintf(stderr, "%s\n", text.c_str());
}

void ShowException(const std::exception_ptr& e) {
    if (!e) {
        return;
    }
    try {
        std::rethrow_exception(e);
    } catch (const std::exception& ex) {
        ShowErrorText(ex.what());
    } catch (...) {
        ShowErrorText("Unknown exception");
    }
}

}  // namespace zp
