// The per-open session and the two worker threads of the serial component.
#include <poll.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "serial/comm_session.h"

namespace zp {

namespace {

std::atomic<int> gLiveThreads{0};

// Counts a worker from before it is spawned until its last statement.
struct TLiveThread {
    TLiveThread() = default;
    ~TLiveThread() { gLiveThreads.fetch_sub(1, std::memory_order_acq_rel); }
};

constexpr uint32_t kModemLines = EV_CTS | EV_DSR | EV_RING | EV_RLSD;
// Without an interrupt for modem-line changes, they are sampled this often,
// and only while they are monitored on a device that has them.
constexpr uint32_t kLineSampleMs = 20;
// Output sent directly is watched this often until the driver has sent it.
constexpr uint32_t kTxWatchMs = 5;
// A write that fails for a reason other than a hang-up is retried after this.
constexpr uint32_t kWriteRetryMs = 50;

// Bounded waits without sleeping, for hand-overs that the other thread
// completes within microseconds: cheaper than a sleep and a wake-up.
constexpr uint32_t kRoomSpinUs = 50;
constexpr uint32_t kDataSpinUs = 30;

int NiceOf(TThreadPriority p) {
    static constexpr int kNice[] = {19, 10, 5, 0, -5, -10, -20};
    const auto i = static_cast<unsigned>(p);
    return i < sizeof kNice / sizeof kNice[0] ? kNice[i] : 0;
}

}  // namespace

int LiveCommThreads() {
    return gLiveThreads.load(std::memory_order_acquire);
}

bool IsHangupErrno(int code) {
    return code == EIO || code == ENXIO || code == ENODEV || code == EPIPE;
}

// ---- session ----

TVaPortSession::TFill TVaPortSession::Fill() {
    TFill r;
    if (!Input || HungUp.load(std::memory_order_relaxed)) {
        return r;
    }
    const int32_t cap = Input->Capacity();
    const int32_t threshold = cap - cap / 5;
    const int32_t before = Input->Size();
    uint8_t tmp[4096];
    while (Input->Free() > 0) {
        const size_t want = std::min(static_cast<size_t>(Input->Free()), sizeof tmp);
        const ssize_t n = Device->Read(tmp, want);
        if (n > 0) {
            size_t kept = static_cast<size_t>(n);
            if (NullStrip) {
                kept = static_cast<size_t>(std::remove(tmp, tmp + n, uint8_t{0}) - tmp);
            }
            if (kept > 0 && std::memchr(tmp, EvtChar, kept) != nullptr) {
                r.flag = true;
            }
            Input->Append(tmp, static_cast<int32_t>(kept));
            r.added += static_cast<int32_t>(kept);
            if (static_cast<size_t>(n) < want) {
                break;
            }
            continue;
        }
        if (n == 0) {
            // End of file on a tty: the device is gone.
            MarkHangup(EIO);
            break;
        }
        const int e = errno;
        if (e == EINTR) {
            continue;
        }
        if (e == EAGAIN) {
            break;
        }
        if (IsHangupErrno(e)) {
            MarkHangup(e);
        } else {
            ReadErrno = e;
        }
        break;
    }
    if (before < threshold && Input->Size() >= threshold) {
        r.rx80 = true;
    }
    return r;
}

void TVaPortSession::FillForReader() {
    const uint32_t events = Fill().Events();
    if (events != 0 && EventThreadReports) {
        ReaderEvents.fetch_or(events, std::memory_order_acq_rel);
        Kick.SetEvent();
    }
}

uint32_t TVaPortSession::CollectLineErrors() {
    if (!HaveCounters) {
        return 0;
    }
    TLineCounters c;
    if (Device->GetCounters(c) != 0) {
        return 0;
    }
    uint32_t errs = 0;
    if (c.frame != Counters.frame) {
        errs |= CE_FRAME;
    }
    if (c.parity != Counters.parity) {
        errs |= CE_RXPARITY;
    }
    if (c.overrun != Counters.overrun) {
        errs |= CE_OVERRUN;
    }
    if (c.bufOverrun != Counters.bufOverrun) {
        errs |= CE_RXOVER;
    }
    uint32_t events = 0;
    if (c.brk != Counters.brk) {
        errs |= CE_BREAK;
        events |= EV_BREAK;
    }
    if ((errs & ~CE_BREAK) != 0) {
        events |= EV_ERR;
    }
    Counters = c;
    PendingErrors |= errs;
    return events;
}

void TVaPortSession::MarkHangup(int code) {
    if (!HungUp.load(std::memory_order_relaxed)) {
        HangupErrno = code;
        HungUp.store(true, std::memory_order_release);
    }
}

bool TVaPortSession::ClaimHangup() {
    if (HangupClaimed.exchange(true, std::memory_order_acq_rel)) {
        return false;
    }
    TVaLockGuard g(Locks->ReadLock);
    PendingErrors |= CE_HANGUP;
    return true;
}

// ---- priorities ----

void TWorkerPriority::Set(TThreadPriority p) {
    std::lock_guard<std::mutex> g(m_);
    wanted_ = p;
    if (tid_ != 0) {
        // Raising a priority needs privileges; without them the thread keeps
        // the one it has, which costs latency but nothing else.
        setpriority(PRIO_PROCESS, static_cast<id_t>(tid_), NiceOf(p));
    }
}

void TWorkerPriority::Detach() {
    std::lock_guard<std::mutex> g(m_);
    tid_ = 0;
}

void TWorkerPriority::Attach() {
    std::lock_guard<std::mutex> g(m_);
    tid_ = static_cast<pid_t>(syscall(SYS_gettid));
    if (wanted_ != tpNormal) {
        setpriority(PRIO_PROCESS, static_cast<id_t>(tid_), NiceOf(wanted_));
    }
}

// ---- worker threads ----

void TWorkerThread::Start(const char* name, std::function<void()> body) {
    gLiveThreads.fetch_add(1, std::memory_order_acq_rel);
    try {
        // The lock: without a main loop the worker runs its calls itself,
        // and may come to End through a handler before this returns.
        std::lock_guard<std::mutex> g(m_);
        thread_ = std::thread([name, body = std::move(body)]() mutable {
            TLiveThread live;
            // Named for debuggers and top, and so tests can find it.
            pthread_setname_np(pthread_self(), name);
            body();
            body = nullptr;  // what it holds goes before the count does
        });
    } catch (...) {
        gLiveThreads.fetch_sub(1, std::memory_order_acq_rel);
        throw;
    }
}

void TWorkerThread::End() {
    std::thread t;
    {
        std::lock_guard<std::mutex> g(m_);
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

// ---- event thread ----

TVaCommEventThread::TVaCommEventThread(TVaCustomComm* comm, std::shared_ptr<TVaPortSession> session,
                                       uint32_t mask)
    : comm_(comm), session_(std::move(session)), mask_(mask) {}

int TVaCommEventThread::InitError() const {
    return WakeEvent.Handle() < 0 ? static_cast<int>(WakeEvent.LastError()) : 0;
}

void TVaCommEventThread::Start(TThreadPriority priority) {
    priority_.Set(priority);
    thread_.Start("zp-comm-event", [self = shared_from_this()] {
        self->Execute();
        self->priority_.Detach();
    });
}

void TVaCommEventThread::Stop() {
    terminated_.store(true, std::memory_order_release);
    WakeEvent.SetEvent();
}

void TVaCommEventThread::Dispatch(uint32_t events) {
    ReceivedEvents = events;
    Synchronize(session_->Token, [this] { thread_.RunCall([this] { ProcessEvents(); }); });
}

void TVaCommEventThread::ProcessEvents() {
    try {
        if ((ReceivedEvents & EV_RXCHAR) != 0) {
            comm_->DoRxChar();
            ReceivedEvents &= ~EV_RXCHAR;
        }
        if (ReceivedEvents != 0) {
            comm_->DoEvents(ReceivedEvents);
        }
    } catch (...) {
        ShowException(std::current_exception());
    }
}

void TVaCommEventThread::Execute() {
    priority_.Attach();
    TVaPortSession& s = *session_;
    IPortDevice& dev = *s.Device;
    bool alive = true;
    int lines = 0;
    const bool watchLines = (mask_ & kModemLines) != 0 && dev.GetModemLines(lines) == 0;

    while (!terminated_.load(std::memory_order_acquire)) {
        bool room = false;
        {
            TVaLockGuard g(s.Locks->ReadLock);
            room = s.Input->Free() > 0;
            s.WaitsForRoom = !room;
        }
        pollfd fds[3] = {{WakeEvent.Handle(), POLLIN, 0},
                         {s.Kick.Handle(), POLLIN, 0},
                         {dev.Fd(), static_cast<short>(room ? POLLIN : 0), 0}};
        uint32_t timeout = kInfinite;
        if (alive && watchLines) {
            timeout = kLineSampleMs;
        }
        if (alive && s.TxWatch.load(std::memory_order_acquire)) {
            timeout = std::min(timeout, kTxWatchMs);
        }
        const int n = PollFor(fds, alive ? 3 : 2, timeout);
        if (terminated_.load(std::memory_order_acquire)) {
            break;
        }
        if (n < 0) {
            // Our own events cannot fail; the device can. Stop waiting on it.
            alive = false;
            continue;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            s.Kick.ResetEvent();
        }
        const uint32_t fromWriter = s.WriterEvents.exchange(0, std::memory_order_acq_rel);
        if (!alive) {
            if (fromWriter != 0) {
                Dispatch(fromWriter);
            }
            continue;
        }

        uint32_t events = 0;
        bool hung = false;
        {
            TVaLockGuard g(s.Locks->ReadLock);
            events = s.Fill().Events();
            const uint32_t fromReader = s.ReaderEvents.exchange(0, std::memory_order_acq_rel);
            if ((fromReader & EV_RXCHAR) != 0 && s.Input->Size() > 0) {
                events |= EV_RXCHAR;
            }
            events |= fromReader & (EV_RXFLAG | EV_RX80FULL);
            events |= s.CollectLineErrors();
            if ((fds[2].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
                // Whatever was still readable has been taken above.
                s.MarkHangup(EIO);
            }
            hung = s.HungUp.load(std::memory_order_acquire);
        }
        if (watchLines && !hung) {
            int now = 0;
            if (dev.GetModemLines(now) == 0) {
                const int changed = now ^ lines;
                lines = now;
                if ((changed & kLineCts) != 0) {
                    events |= EV_CTS;
                }
                if ((changed & kLineDsr) != 0) {
                    events |= EV_DSR;
                }
                if ((changed & kLineCar) != 0) {
                    events |= EV_RLSD;
                }
                if ((changed & kLineRng) != 0) {
                    events |= EV_RING;
                }
            }
        }
        if (s.TxWatch.load(std::memory_order_acquire)) {
            int pending = 0;
            if (hung || dev.OutputPending(pending) != 0 || pending <= 0) {
                s.TxWatch.store(false, std::memory_order_release);
                events |= hung ? 0 : EV_TXEMPTY;
            }
        }
        events = (events & mask_) | fromWriter;
        if (events != 0) {
            Dispatch(events);
        }
        if (hung) {
            alive = false;
            if (s.ClaimHangup()) {
                Dispatch(EV_ERR);
            }
        }
    }
}

// ---- write thread ----

TVaCommWriteThread::TVaCommWriteThread(TVaCustomComm* comm, std::shared_ptr<TVaPortSession> session,
                                       int32_t capacity)
    : comm_(comm), session_(std::move(session)), queue_(capacity) {}

int TVaCommWriteThread::InitError() const {
    for (const TVaWaitEvent* e : {&DataEvent, &StopEvent}) {
        if (e->Handle() < 0) {
            return static_cast<int>(e->LastError());
        }
    }
    return 0;
}

void TVaCommWriteThread::Start(TThreadPriority priority) {
    priority_.Set(priority);
    thread_.Start("zp-comm-write", [self = shared_from_this()] {
        self->Execute();
        self->priority_.Detach();
    });
}

bool TVaCommWriteThread::Enqueue(const void* data, int32_t count, uint32_t timeoutMs) {
    std::unique_lock<TVaCriticalSection> g(session_->Locks->WriteLock);
    const auto fits = [&] {
        return static_cast<int64_t>(queue_.Size()) + count <= queue_.Capacity();
    };
    if (!fits()) {
        const Deadline d(timeoutMs);
        if (count <= queue_.Capacity()) {
            // The write thread frees room within one platform write, usually
            // sooner than a sleep and a wake-up take; wait for that briefly
            // without blocking.
            g.unlock();
            senders_.fetch_add(1, std::memory_order_acq_rel);
            SpinFor(kRoomSpinUs, [&] {
                return session_->QueuedOut.load(std::memory_order_acquire) + count <=
                       queue_.Capacity();
            });
            senders_.fetch_sub(1, std::memory_order_acq_rel);
            g.lock();
        }
        while (!fits()) {
            if (d.Expired()) {
                return false;
            }
            room_.wait_for(g, std::chrono::milliseconds(d.Remaining()));
        }
    }
    const bool wasEmpty = queue_.Size() == 0;
    queue_.Append(data, count);
    session_->QueuedOut.store(queue_.Size(), std::memory_order_release);
    if (wasEmpty) {
        // Otherwise it is set already: it is only reset, under this lock,
        // while the queue is empty.
        DataEvent.SetEvent();
    }
    return true;
}

void TVaCommWriteThread::Report(uint32_t mask) {
    if (session_->EventThreadReports) {
        session_->WriterEvents.fetch_or(mask, std::memory_order_acq_rel);
        session_->Kick.SetEvent();
        return;
    }
    TVaCustomComm* comm = comm_;
    Synchronize(session_->Token,
                [this, comm, mask] { thread_.RunCall([comm, mask] { comm->DoEvents(mask); }); });
}

void TVaCommWriteThread::Finish(int32_t written) {
    bool empty = false;
    {
        TVaLockGuard g(session_->Locks->WriteLock);
        queue_.Remove(written);
        session_->QueuedOut.store(queue_.Size(), std::memory_order_release);
        empty = queue_.Size() == 0;
        // Tested and reset under the lock, so bytes appended right now
        // always find DataEvent set. Bytes that remain keep it set.
        if (empty) {
            DataEvent.ResetEvent();
        }
    }
    // Outside the lock: a woken sender would only block on it again.
    room_.notify_all();
    if (empty) {
        Report(EV_TXEMPTY);
    }
}

void TVaCommWriteThread::Execute() {
    priority_.Attach();
    IPortDevice& dev = *session_->Device;
    for (;;) {
        if (senders_.load(std::memory_order_acquire) > 0) {
            // A sender waits for the room just made and refills at once.
            SpinFor(kDataSpinUs, [&] {
                return session_->QueuedOut.load(std::memory_order_acquire) > 0 ||
                       senders_.load(std::memory_order_acquire) == 0;
            });
        }
        const TMultiWaitResult r = WaitForMultiple({&StopEvent, &DataEvent}, kInfinite);
        if (r.Result != WaitSignalled || r.Index == 0) {
            break;
        }
        const uint8_t* data = nullptr;
        int32_t count = 0;
        {
            TVaLockGuard g(session_->Locks->WriteLock);
            data = queue_.Storage();
            count = queue_.Size();
            if (count == 0) {
                DataEvent.ResetEvent();
                continue;
            }
        }
        // Only this thread removes bytes, and appends go past count, so the
        // bytes being written stay put without the lock.
        const ssize_t w = dev.Write(data, static_cast<size_t>(count));
        if (w > 0) {
            Finish(static_cast<int32_t>(w));
            continue;
        }
        const int e = w == 0 ? EAGAIN : errno;
        if (e == EINTR) {
            continue;
        }
        if (e == EAGAIN) {
            // The line is busy: wait for room in the driver, or for Stop.
            pollfd fds[2] = {{StopEvent.Handle(), POLLIN, 0}, {dev.Fd(), POLLOUT, 0}};
            if (PollFor(fds, 2, kInfinite) < 0 || (fds[0].revents & POLLIN) != 0) {
                break;
            }
            continue;
        }
        if (IsHangupErrno(e)) {
            {
                TVaLockGuard g(session_->Locks->ReadLock);
                session_->MarkHangup(e);
            }
            if (session_->ClaimHangup()) {
                Report(EV_ERR);
            }
            // Nothing more can be sent: wait only for Stop.
            StopEvent.WaitFor(kInfinite);
            break;
        }
        Report(EV_ERR);
        if (StopEvent.WaitFor(kWriteRetryMs) == WaitSignalled) {
            break;
        }
    }
}

}  // namespace zp
