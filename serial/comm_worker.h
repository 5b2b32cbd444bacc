// The base of the serial component's two worker threads: starting and
// stopping the system thread, its priority, the count of live workers, and
// the call into the main thread through which a worker reaches its port.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "serial/comm_types.h"

namespace zp {

class ICommSink;
struct TVaPortSession;

// A worker lives from Start until its thread body returns; the thread holds
// the worker (and so its session) until then, whatever the component does.
//
// Close waits for a worker in End, except when the worker's own call into
// the main thread runs further up the closing thread's stack: waiting would
// never end, so it is let go, and it stops as soon as that call returns.
class TCommWorker : public std::enable_shared_from_this<TCommWorker> {
  public:
    TCommWorker(const char* name, ICommSink& sink, std::shared_ptr<TVaPortSession> session);
    TCommWorker(const TCommWorker&) = delete;
    TCommWorker& operator=(const TCommWorker&) = delete;
    virtual ~TCommWorker();

    // errno of an event the worker could not make, else 0.
    virtual int InitError() const = 0;
    // Throws std::system_error when no thread can be made.
    void Start(TThreadPriority priority);
    // Sets the terminated flag and wakes the thread; does not wait.
    void Stop();
    // After Stop: waits for the thread to end, or lets it go (see above).
    void End();
    // At once when the thread runs, else as it starts.
    void SetPriority(TThreadPriority p);

  protected:
    bool Terminated() const { return terminated_.load(std::memory_order_acquire); }
    // Runs call in the main thread and returns after it ran; dropped when
    // the port was closed first.
    void CallMain(const std::function<void()>& call);
    // The thread body; returns once Terminated() or when nothing more can
    // be done.
    virtual void Execute() = 0;
    // Wakes a thread blocked in Execute so it sees the terminated flag.
    virtual void WakeToStop() = 0;

    ICommSink& sink_;  // reached only in calls that the session's token lets through
    const std::shared_ptr<TVaPortSession> session_;

  private:
    void AttachPriority();
    void DetachPriority();

    const char* const name_;
    std::atomic<bool> terminated_{false};

    std::mutex priorityLock_;
    pid_t tid_ = 0;  // the running thread, 0 before and after: ids are reused
    TThreadPriority wanted_ = tpNormal;

    std::mutex threadLock_;
    std::thread thread_;
    // The thread that runs this worker's call into the main thread, if any.
    std::atomic<std::thread::id> caller_{};
};

}  // namespace zp
