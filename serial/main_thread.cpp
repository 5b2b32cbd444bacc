#include "main_thread.h"

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
    // The queued closure keeps the token alive; the call's own captures are
    // only touched when the token is still valid in the main thread.
    // The release/acquire pair makes the hand-over visible to the thread
    // sanitizer also when the installed crossing synchronises inside a
    // library it cannot see into (Qt's event queue).
    std::atomic<int> handOver{0};
    TSyncResult result = TSyncResult::Cancelled;
    const std::function<void()> wrapped = [&result, &handOver, token, &call] {
        handOver.load(std::memory_order_acquire);
        result = RunHere(token.get(), call);
        handOver.store(2, std::memory_order_release);
    };
    handOver.store(1, std::memory_order_release);
    bool ran = false;
    try {
        ran = mainThread->Synchronize(wrapped);
    } catch (...) {
        // The crossing itself failed; there is nobody in this thread to tell.
        ran = false;
    }
    if (handOver.load(std::memory_order_acquire) != 2) {
        return TSyncResult::Cancelled;
    }
    return ran ? result : TSyncResult::Cancelled;
}

bool TMainThreadQueue::Synchronize(const std::function<void()>& call) {
    auto item = std::make_shared<Item>();
    item->call = &call;
    std::unique_lock<std::mutex> l(lock_);
    if (shut_) {
        return false;
    }
    queue_.push_back(item);
    wake_.SetEvent();
    finished_.wait(l, [&] { return item->done; });
    return item->ran;
}

bool TMainThreadQueue::WaitForCall(uint32_t timeoutMs) {
    return wake_.WaitFor(timeoutMs) == WaitSignalled;
}

int TMainThreadQueue::RunPending() {
    int n = 0;
    for (;;) {
        std::shared_ptr<Item> item;
        {
            std::lock_guard<std::mutex> l(lock_);
            if (queue_.empty()) {
                // Reset under the lock, so a call queued after this is never
                // left without the wake-up.
                wake_.ResetEvent();
                return n;
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
        std::lock_guard<std::mutex> l(lock_);
        item->done = true;
        item->ran = true;
        finished_.notify_all();
        ++n;
    }
}

void TMainThreadQueue::Shut() {
    std::lock_guard<std::mutex> l(lock_);
    shut_ = true;
    for (auto& item : queue_) {
        item->done = true;
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
