// The crossing from a worker thread into the main thread, and the
// application's error display. The application installs both; the serial
// component only calls the free functions below.
//
// Contract:
// - Synchronize(call) runs call in the main thread and returns after it ran.
//   Called from the main thread, it runs at once. An exception thrown by the
//   call is caught in the main thread and shown through ShowException there;
//   it never reaches the worker and never ends the program.
// - A call made with a TSyncToken runs only while the token is not cancelled.
//   The owner cancels the token in the main thread (on close, before
//   destruction). Cancelling drops the owner's calls that have not started
//   and releases their workers at once, without running them; a call that
//   is already running finishes. Cancelling itself waits for nobody.
// - So the main thread may wait for a worker once it has cancelled the
//   worker's token and told it to stop, unless that worker's own call is
//   running further up the main thread's stack (the owner closing from a
//   handler): that worker is not waited for, and it must check its stop
//   flag before anything else once the call returns. Nobody waits for a
//   worker while holding a lock the worker takes. Synchronize holds none of
//   our locks while it waits.
// - Nothing installed: calls run at once in the calling thread, one at a
//   time under one process-wide lock (no main loop exists to run them), and
//   error texts go to standard error.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "serial/VaObjects.h"

namespace zp {

// The application's synchronised call. Synchronize runs call in the main
// thread and blocks until it has run; it returns true after it ran, false when
// it never will (the main loop has ended), and then it must have forgotten the
// call. It is only called from other threads; call itself never throws.
class TSyncToken;
class IMainThread {
  public:
    virtual ~IMainThread() = default;
    virtual bool Synchronize(const std::function<void()>& call) = 0;
    // The same for a call of token's owner, which Abandon(token) may drop
    // before it starts (then false). A crossing that cannot drop calls
    // keeps the defaults; then a cancelled owner's worker waits until the
    // main loop comes round to the call.
    virtual bool SynchronizeFor(const TSyncToken* token, const std::function<void()>& call) {
        (void)token;
        return Synchronize(call);
    }
    // Main thread: token was cancelled.
    virtual void Abandon(const TSyncToken* token) { (void)token; }
};

// A ready-made IMainThread for any main loop that can watch a descriptor
// (Qt: a QSocketNotifier on WakeHandle calling RunPending). Workers queue
// their call and wait on a condition variable; the hand-over goes through our
// own mutex, never through the toolkit's event queue, so the thread sanitizer
// sees all of it.
class TMainThreadQueue : public IMainThread {
  public:
    TMainThreadQueue() = default;
    TMainThreadQueue(const TMainThreadQueue&) = delete;
    TMainThreadQueue& operator=(const TMainThreadQueue&) = delete;

    bool Synchronize(const std::function<void()>& call) override;
    bool SynchronizeFor(const TSyncToken* token, const std::function<void()>& call) override;
    void Abandon(const TSyncToken* token) override;

    // Readable while calls are queued.
    int WakeHandle() const { return wake_.Handle(); }
    // Main thread: waits up to timeoutMs for a queued call; true when one is.
    bool WaitForCall(uint32_t timeoutMs);
    // Main thread: runs the calls queued now, one at a time (a call may run a
    // nested loop that runs the next ones). Returns how many ran here.
    int RunPending();
    // The main loop has ended: waiting workers return false at once, the
    // calls are not run, and later calls are refused.
    void Shut();

  private:
    struct Item {
        const std::function<void()>* call;
        const TSyncToken* token;
        // Set under lock_, read also without it for the short wait before
        // sleeping.
        std::atomic<bool> done{false};
        bool ran = false;
    };
    static constexpr uint32_t kSpinUs = 50;

    std::mutex lock_;
    std::condition_variable finished_;
    std::deque<Item*> queue_;
    TVaWaitEvent wake_;
    bool shut_ = false;
};

// The application's error display: shows the text to the operator, in the
// main thread; the program goes on.
class IErrorDisplay {
  public:
    virtual ~IErrorDisplay() = default;
    virtual void ShowError(const std::string& text) = 0;
};

// Installs the synchronised call; the installing thread becomes the main
// thread. nullptr uninstalls. A worker that is inside a call keeps the old
// interface alive until the call returns.
void InstallMainThread(std::shared_ptr<IMainThread> mainThread);
void InstallErrorDisplay(std::shared_ptr<IErrorDisplay> display);

// True in the thread that installed the synchronised call.
bool IsMainThread();

// Lets queued calls of one owner find out that the owner is gone. Cancel and
// the check before a queued call run both happen in the main thread.
class TSyncToken {
  public:
    // Also drops the owner's queued calls and releases their workers.
    void Cancel();
    bool Cancelled() const { return cancelled_.load(std::memory_order_acquire); }

  private:
    std::atomic<bool> cancelled_{false};
};
using TSyncTokenPtr = std::shared_ptr<TSyncToken>;

enum class TSyncResult {
    Ran,        // the call ran and returned
    Raised,     // the call threw; the text went to the error display
    Cancelled,  // the token was cancelled first, or the main loop has ended
};

TSyncResult Synchronize(const std::function<void()>& call);
TSyncResult Synchronize(const TSyncTokenPtr& token, const std::function<void()>& call);

// Shows the exception's text through the error display (an unknown exception
// as "Unknown exception"); from a worker it crosses into the main thread
// first. Never throws.
void ShowException(const std::exception_ptr& e);
void ShowErrorText(const std::string& text);

}  // namespace zp
