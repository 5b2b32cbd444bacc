// The worker base: thread start and end, priority, live count, main-thread calls.
#include "serial/comm_worker.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "serial/comm_session.h"
#include "serial/main_thread.h"

namespace zp {

namespace {

std::atomic<int> gLiveThreads{0};

// Counts a worker from before it is spawned until its last statement.
struct TLiveThread {
    TLiveThread() = default;
    TLiveThread(const TLiveThread&) = delete;
    TLiveThread& operator=(const TLiveThread&) = delete;
    ~TLiveThread() { gLiveThreads.fetch_sub(1, std::memory_order_acq_rel); }
};

int NiceOf(TThreadPriority p) {
    static constexpr int kNice[] = {19, 10, 5, 0, -5, -10, -20};
    const auto i = static_cast<unsigned>(p);
    return i < sizeof kNice / sizeof kNice[0] ? kNice[i] : 0;
}

void Renice(pid_t tid, TThreadPriority p) {
    // Raising a priority needs privileges; without them the thread keeps
    // the one it has, which costs latency but nothing else.
    setpriority(PRIO_PROCESS, static_cast<id_t>(tid), NiceOf(p));
}

}  // namespace

int LiveCommThreads() {
    return gLiveThreads.load(std::memory_order_acquire);
}

TCommWorker::TCommWorker(const char* name, ICommSink& sink, std::shared_ptr<TVaPortSession> session)
    : sink_(sink), session_(std::move(session)), name_(name) {}

TCommWorker::~TCommWorker() = default;

void TCommWorker::Start(TThreadPriority priority) {
    SetPriority(priority);
    gLiveThreads.fetch_add(1, std::memory_order_acq_rel);
    try {
        // The lock: without a main loop the worker runs its calls itself,
        // and may come to End through a handler before this returns.
        std::lock_guard<std::mutex> g(threadLock_);
        thread_ = std::thread([self = shared_from_this()]() mutable {
            TLiveThread live;
            // Named for debuggers and top, and so tests can find it.
            pthread_setname_np(pthread_self(), self->name_);
            self->AttachPriority();
            self->Execute();
            self->DetachPriority();
            self.reset();  // what it holds goes before the count does
        });
    } catch (...) {
        gLiveThreads.fetch_sub(1, std::memory_order_acq_rel);
        throw;
    }
}

void TCommWorker::Stop() {
    terminated_.store(true, std::memory_order_release);
    WakeToStop();
}

void TCommWorker::End() {
    std::thread t;
    {
        std::lock_guard<std::mutex> g(threadLock_);
        t = std::move(thread_);
    }
    if (!t.joinable()) {
        return;
    }
    // Also true without a main loop, when the worker itself runs the call.
    if (caller_.load() == std::this_thread::get_id()) {
        t.detach();
    } else {
        t.join();
    }
}

void TCommWorker::SetPriority(TThreadPriority p) {
    std::lock_guard<std::mutex> g(priorityLock_);
    wanted_ = p;
    if (tid_ != 0) {
        Renice(tid_, p);
    }
}

void TCommWorker::AttachPriority() {
    std::lock_guard<std::mutex> g(priorityLock_);
    tid_ = static_cast<pid_t>(syscall(SYS_gettid));
    if (wanted_ != tpNormal) {
        Renice(tid_, wanted_);
    }
}

void TCommWorker::DetachPriority() {
    std::lock_guard<std::mutex> g(priorityLock_);
    tid_ = 0;
}

void TCommWorker::CallMain(const std::function<void()>& call) {
    Synchronize(session_->Token, [this, &call] {
        // Noted for End: the thread running this must not wait for us.
        const std::thread::id before = caller_.exchange(std::this_thread::get_id());
        struct Restore {
            std::atomic<std::thread::id>& caller;
            std::thread::id before;
            ~Restore() { caller.store(before); }
        } restore{caller_, before};
        call();
    });
}

}  // namespace zp
