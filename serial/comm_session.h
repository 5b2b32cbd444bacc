// Internals of the serial component shared by the component and its two
// worker threads: the per-open session and the thread classes.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "serial/VaComm.h"

namespace zp {

// One open port. The component drops its reference at Close; a worker that
// is still winding down keeps the session, and so the descriptor, the
// locks and the token, until it has ended.
struct TVaPortSession {
    TPortDevicePtr Device;
    std::shared_ptr<TVaCommLocks> Locks;
    TSyncTokenPtr Token = std::make_shared<TSyncToken>();
    // Wakes the event thread: room in a full input queue, output to watch.
    TVaWaitEvent Kick;

    // Guarded by ReadLock.
    std::unique_ptr<TVaCommBuffer> Input;
    bool NullStrip = false;
    uint8_t EvtChar = 0;
    uint32_t PendingErrors = 0;
    bool HaveCounters = false;
    TLineCounters Counters;
    int ReadErrno = 0;
    int HangupErrno = 0;
    // The event thread found the input queue full and waits without
    // watching the device: a read that makes room must kick it.
    bool WaitsForRoom = false;

    std::atomic<bool> HungUp{false};
    // Whoever sets this first reports the hang-up; nobody else does.
    std::atomic<bool> HangupClaimed{false};
    // Set before the workers start: the event thread reports hang-ups.
    bool EventThreadReports = false;
    std::atomic<int32_t> QueuedOut{0};
    // Events of the write thread handed to the event thread for delivery, so
    // that the write thread never waits for the main thread while the main
    // thread may be waiting for room in the write queue.
    std::atomic<uint32_t> WriterEvents{0};
    std::atomic<bool> TxWatch{false};
    // Receive events (EV_RXCHAR, EV_RXFLAG, EV_RX80FULL) of bytes that a read
    // in the main thread took from the device: they never woke the event
    // thread, which announces them on its next pass. DoRxChar drops
    // EV_RXCHAR, since the count it hands out covers those bytes.
    std::atomic<uint32_t> ReaderEvents{0};

    struct TFill {
        int32_t added = 0;
        bool flag = false;
        bool rx80 = false;
        // The receive events (EV_RXCHAR, EV_RXFLAG, EV_RX80FULL) of this fill.
        uint32_t Events() const {
            return (added > 0 ? EV_RXCHAR : 0u) | (flag ? EV_RXFLAG : 0u) |
                   (rx80 ? EV_RX80FULL : 0u);
        }
    };
    // Moves what the device holds into Input, up to its capacity. ReadLock held.
    TFill Fill();
    // Fill for a read in the main thread. ReadLock held.
    void FillForReader();
    // Compares the driver's line counters with the last look; adds the
    // error flags to PendingErrors and returns EV_ERR / EV_BREAK. ReadLock held.
    uint32_t CollectLineErrors();
    // ReadLock held.
    void MarkHangup(int code);
    // Claims the hang-up report and adds CE_HANGUP to the pending errors;
    // true for the one caller that should dispatch it.
    bool ClaimHangup();
};

bool IsHangupErrno(int code);

// Per-thread scheduling priority of a worker, settable from outside.
class TWorkerPriority {
  public:
    void Set(TThreadPriority p);
    // Called by the worker itself as it starts and as it ends: a thread id
    // may be reused once its thread is gone.
    void Attach();
    void Detach();

  private:
    std::mutex m_;
    pid_t tid_ = 0;
    TThreadPriority wanted_ = tpNormal;
};

// The system thread of a worker. Close waits for it to end, except when the
// worker's own synchronised call runs further up the closing thread's
// stack: waiting would never end, so it is let go, and it stops as soon as
// that call returns.
class TWorkerThread {
  public:
    // Throws std::system_error when no thread can be made.
    void Start(const char* name, std::function<void()> body);
    // Runs the worker's call (in the main thread) and notes who runs it.
    template <typename F>
    void RunCall(F&& call) {
        const std::thread::id before = caller_.exchange(std::this_thread::get_id());
        struct Restore {
            std::atomic<std::thread::id>& caller;
            std::thread::id before;
            ~Restore() { caller.store(before); }
        } restore{caller_, before};
        call();
    }
    // Waits for the thread to end, or lets it go (see above). Once only.
    void End();

  private:
    std::mutex m_;
    std::thread thread_;
    std::atomic<std::thread::id> caller_{};
};

class TVaCommEventThread : public std::enable_shared_from_this<TVaCommEventThread> {
  public:
    TVaCommEventThread(TVaCustomComm* comm, std::shared_ptr<TVaPortSession> session, uint32_t mask);
    // errno of an event that could not be made, else 0.
    int InitError() const;
    void Start(TThreadPriority priority);
    // Sets the terminated flag and wakes the thread; does not wait.
    void Stop();
    // After Stop: waits for the thread to end (see TWorkerThread::End).
    void End() { thread_.End(); }
    void SetPriority(TThreadPriority p) { priority_.Set(p); }

    // Main thread, inside the synchronised call.
    void ProcessEvents();

    // The events of the batch being dispatched; stable during ProcessEvents.
    uint32_t ReceivedEvents = 0;
    TVaWaitEvent WakeEvent;

  private:
    void Execute();
    void Dispatch(uint32_t events);

    TVaCustomComm* const comm_;  // touched only in calls the token lets through
    const std::shared_ptr<TVaPortSession> session_;
    const uint32_t mask_;
    std::atomic<bool> terminated_{false};
    TWorkerPriority priority_;
    TWorkerThread thread_;
};

class TVaCommWriteThread : public std::enable_shared_from_this<TVaCommWriteThread> {
  public:
    TVaCommWriteThread(TVaCustomComm* comm, std::shared_ptr<TVaPortSession> session,
                       int32_t capacity);
    int InitError() const;
    void Start(TThreadPriority priority);
    void Stop() { StopEvent.SetEvent(); }
    void End() { thread_.End(); }
    void SetPriority(TThreadPriority p) { priority_.Set(p); }

    // Main thread: queues the bytes when they fit within timeoutMs.
    bool Enqueue(const void* data, int32_t count, uint32_t timeoutMs);

    TVaWaitEvent DataEvent;
    TVaWaitEvent StopEvent;

  private:
    void Execute();
    void Finish(int32_t written);
    void Report(uint32_t mask);

    TVaCustomComm* const comm_;
    const std::shared_ptr<TVaPortSession> session_;
    TVaCommBuffer queue_;
    std::condition_variable_any room_;
    // Senders waiting for room in the queue.
    std::atomic<int> senders_{0};
    TWorkerPriority priority_;
    TWorkerThread thread_;
};

}  // namespace zp
