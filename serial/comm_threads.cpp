// The per-open session and the two worker threads of the serial component.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "serial/comm_session.h"

namespace zp {

namespace {

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

}  // namespace

bool IsHangupErrno(int code) {
    switch (code) {
        case EIO:
        case ENXIO:
        case ENODEV:
        case EPIPE:
        // A network serial line that could not connect or broke off.
        case ECONNREFUSED:
        case ECONNRESET:
        case ECONNABORTED:
        case ETIMEDOUT:
        case EHOSTUNREACH:
        case ENETUNREACH:
        case EHOSTDOWN:
        case ENETDOWN:
        case EPROTO:
        case EPROTONOSUPPORT:
            return true;
        default:
            return false;
    }
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

// ---- event thread ----

TVaCommEventThread::TVaCommEventThread(ICommSink& sink, std::shared_ptr<TVaPortSession> session,
                                       uint32_t mask)
    : TCommWorker("zp-comm-event", sink, std::move(session)), mask_(mask) {}

int TVaCommEventThread::InitError() const {
    return WakeEvent.Handle() < 0 ? static_cast<int>(WakeEvent.LastError()) : 0;
}

void TVaCommEventThread::Execute() {
    watchLines_ = (mask_ & kModemLines) != 0 && session_->Device->GetModemLines(lines_) == 0;
    while (!Terminated()) {
        short device = 0;
        const bool waited = Wait(device);
        if (Terminated()) {
            break;
        }
        if (!waited) {
            // Our own events cannot fail; the device can. Stop waiting on it.
            alive_ = false;
            continue;
        }
        Dispatch(Collect(device));
    }
}

bool TVaCommEventThread::Wait(short& device) {
    TVaPortSession& s = *session_;
    bool room = false;
    {
        TVaLockGuard g(s.Locks->ReadLock);
        room = s.Input->Free() > 0;
        s.WaitsForRoom = !room;
    }
    pollfd fds[3] = {{WakeEvent.Handle(), POLLIN, 0},
                     {s.Kick.Handle(), POLLIN, 0},
                     {s.Device->Fd(), static_cast<short>(room ? POLLIN : 0), 0}};
    uint32_t timeout = kInfinite;
    if (alive_ && watchLines_) {
        timeout = kLineSampleMs;
    }
    if (alive_ && s.TxWatch.load(std::memory_order_acquire)) {
        timeout = std::min(timeout, kTxWatchMs);
    }
    const int n = PollFor(fds, alive_ ? 3 : 2, timeout);
    if ((fds[1].revents & POLLIN) != 0) {
        s.Kick.ResetEvent();
    }
    device = fds[2].revents;
    return n >= 0;
}

TVaCommEventThread::TBatch TVaCommEventThread::Collect(short device) {
    TVaPortSession& s = *session_;
    const uint32_t fromWriter = s.WriterEvents.exchange(0, std::memory_order_acq_rel);
    TBatch b;
    if (!alive_) {
        b.events = fromWriter;
        return b;
    }
    uint32_t events = 0;
    {
        TVaLockGuard g(s.Locks->ReadLock);
        events = s.Fill().Events();
        const uint32_t fromReader = s.ReaderEvents.exchange(0, std::memory_order_acq_rel);
        if ((fromReader & EV_RXCHAR) != 0 && s.Input->Size() > 0) {
            events |= EV_RXCHAR;
        }
        events |= fromReader & (EV_RXFLAG | EV_RX80FULL);
        events |= s.CollectLineErrors();
        if ((device & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            // Whatever was still readable has been taken above.
            s.MarkHangup(EIO);
        }
        b.hungUp = s.HungUp.load(std::memory_order_acquire);
    }
    if (!b.hungUp) {
        events |= ModemLineEvents();
    }
    events |= TxEmptyEvent(b.hungUp);
    b.events = (events & mask_) | fromWriter;
    return b;
}

uint32_t TVaCommEventThread::ModemLineEvents() {
    int now = 0;
    if (!watchLines_ || session_->Device->GetModemLines(now) != 0) {
        return 0;
    }
    const int changed = now ^ lines_;
    lines_ = now;
    static constexpr struct {
        int line;
        uint32_t event;
    } kLines[] = {{kLineCts, EV_CTS}, {kLineDsr, EV_DSR}, {kLineCar, EV_RLSD}, {kLineRng, EV_RING}};
    uint32_t events = 0;
    for (const auto& l : kLines) {
        if ((changed & l.line) != 0) {
            events |= l.event;
        }
    }
    return events;
}

uint32_t TVaCommEventThread::TxEmptyEvent(bool hungUp) {
    TVaPortSession& s = *session_;
    if (!s.TxWatch.load(std::memory_order_acquire)) {
        return 0;
    }
    int pending = 0;
    if (hungUp || s.Device->OutputPending(pending) != 0 || pending <= 0) {
        s.TxWatch.store(false, std::memory_order_release);
        return hungUp ? 0 : EV_TXEMPTY;
    }
    return 0;
}

void TVaCommEventThread::Dispatch(const TBatch& batch) {
    if (batch.events != 0) {
        Deliver(batch.events);
    }
    if (batch.hungUp) {
        alive_ = false;
        if (session_->ClaimHangup()) {
            Deliver(EV_ERR);
        }
    }
}

void TVaCommEventThread::Deliver(uint32_t events) {
    ReceivedEvents = events;
    CallMain([this] { ProcessEvents(); });
}

void TVaCommEventThread::ProcessEvents() {
    try {
        if ((ReceivedEvents & EV_RXCHAR) != 0) {
            sink_.DoRxChar();
            ReceivedEvents &= ~EV_RXCHAR;
        }
        if (ReceivedEvents != 0) {
            sink_.DoEvents(ReceivedEvents);
        }
    } catch (...) {
        ShowException(std::current_exception());
    }
}

// ---- write thread ----

TVaCommWriteThread::TVaCommWriteThread(ICommSink& sink, std::shared_ptr<TVaPortSession> session,
                                       int32_t capacity)
    : TCommWorker("zp-comm-write", sink, std::move(session)), queue_(capacity) {}

int TVaCommWriteThread::InitError() const {
    for (const TVaWaitEvent* e : {&DataEvent, &StopEvent}) {
        if (e->Handle() < 0) {
            return static_cast<int>(e->LastError());
        }
    }
    return 0;
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
        // The event thread delivers it, so this thread never waits for the
        // main thread while the main thread may wait for room in the queue.
        session_->WriterEvents.fetch_or(mask, std::memory_order_acq_rel);
        session_->Kick.SetEvent();
        return;
    }
    CallMain([this, mask] { sink_.DoEvents(mask); });
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
    while (!Terminated() && WaitForData()) {
        if (!SendQueued()) {
            break;
        }
    }
}

bool TVaCommWriteThread::WaitForData() {
    if (senders_.load(std::memory_order_acquire) > 0) {
        // A sender waits for the room just made and refills at once.
        SpinFor(kDataSpinUs, [&] {
            return session_->QueuedOut.load(std::memory_order_acquire) > 0 ||
                   senders_.load(std::memory_order_acquire) == 0;
        });
    }
    const TMultiWaitResult r = WaitForMultiple({&StopEvent, &DataEvent}, kInfinite);
    return r.Result == WaitSignalled && r.Index != 0;
}

bool TVaCommWriteThread::SendQueued() {
    TVaPortSession& s = *session_;
    const uint8_t* data = nullptr;
    int32_t count = 0;
    {
        TVaLockGuard g(s.Locks->WriteLock);
        data = queue_.Storage();
        count = queue_.Size();
        if (count == 0) {
            DataEvent.ResetEvent();
            return true;
        }
    }
    // Only this thread removes bytes, and appends go past count, so the
    // bytes being written stay put without the lock.
    const ssize_t w = s.Device->Write(data, static_cast<size_t>(count));
    if (w > 0) {
        Finish(static_cast<int32_t>(w));
        return true;
    }
    const int e = w == 0 ? EAGAIN : errno;
    if (e == EINTR) {
        return true;
    }
    if (e == EAGAIN) {
        // The line is busy: wait for room in the driver, or for Stop.
        pollfd fds[2] = {{StopEvent.Handle(), POLLIN, 0}, {s.Device->Fd(), POLLOUT, 0}};
        return PollFor(fds, 2, kInfinite) >= 0 && (fds[0].revents & POLLIN) == 0;
    }
    if (IsHangupErrno(e)) {
        {
            TVaLockGuard g(s.Locks->ReadLock);
            s.MarkHangup(e);
        }
        if (s.ClaimHangup()) {
            Report(EV_ERR);
        }
        // Nothing more can be sent: wait only for Stop.
        StopEvent.WaitFor(kInfinite);
        return false;
    }
    Report(EV_ERR);
    return StopEvent.WaitFor(kWriteRetryMs) != WaitSignalled;
}

}  // namespace zp
