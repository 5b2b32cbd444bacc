// Internals of the serial component shared by the component and its two
// worker threads: the per-open session and the thread classes.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>

#include "serial/VaComm.h"
#include "serial/comm_worker.h"

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

// Waits on the port and its own events and hands each batch of events to
// the main thread. One pass is wait, collect, dispatch.
class TVaCommEventThread final : public TCommWorker {
  public:
    TVaCommEventThread(ICommSink& sink, std::shared_ptr<TVaPortSession> session, uint32_t mask);
    int InitError() const override;

    // Main thread, inside the synchronised call.
    void ProcessEvents();

    // The events of the batch being dispatched; stable during ProcessEvents.
    uint32_t ReceivedEvents = 0;
    TVaWaitEvent WakeEvent;

  private:
    // What one look at the device and the hand-overs found.
    struct TBatch {
        uint32_t events = 0;
        bool hungUp = false;
    };

    void Execute() override;
    void WakeToStop() override { WakeEvent.SetEvent(); }
    // Blocks until something may have happened; the device's poll result,
    // or false when the device can no longer be waited on.
    bool Wait(short& device);
    TBatch Collect(short device);
    uint32_t ModemLineEvents();
    uint32_t TxEmptyEvent(bool hungUp);
    void Dispatch(const TBatch& batch);
    void Deliver(uint32_t events);

    const uint32_t mask_;
    // Only this thread touches these.
    bool alive_ = true;  // false once the device is gone: no more looks at it
    bool watchLines_ = false;
    int lines_ = 0;
};

// Sends what the main thread queues, one platform write for all of it.
class TVaCommWriteThread final : public TCommWorker {
  public:
    TVaCommWriteThread(ICommSink& sink, std::shared_ptr<TVaPortSession> session, int32_t capacity);
    int InitError() const override;

    // Main thread: queues the bytes when they fit within timeoutMs.
    bool Enqueue(const void* data, int32_t count, uint32_t timeoutMs);

    TVaWaitEvent DataEvent;
    TVaWaitEvent StopEvent;

  private:
    void Execute() override;
    void WakeToStop() override { StopEvent.SetEvent(); }
    // True once the queue holds bytes, false on Stop.
    bool WaitForData();
    // One platform write of what is queued; false when the thread should end.
    bool SendQueued();
    void Finish(int32_t written);
    void Report(uint32_t mask);

    TVaCommBuffer queue_;
    std::condition_variable_any room_;
    // Senders waiting for room in the queue.
    std::atomic<int> senders_{0};
};

}  // namespace zp
