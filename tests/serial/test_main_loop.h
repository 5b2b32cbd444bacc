// A main loop for tests: installs the synchronised call (the same
// TMainThreadQueue the application uses) and a recording error display for
// the thread that creates it, and runs queued calls while a test waits for a
// condition. Calls still queued when the loop is destroyed are released
// without running, as when the application's loop has ended.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "serial/main_thread.h"

namespace zp::test {

class TTestMainLoop {
  public:
    TTestMainLoop()
        : queue_(std::make_shared<TMainThreadQueue>()), display_(std::make_shared<Recorder>()) {
        InstallMainThread(queue_);
        InstallErrorDisplay(display_);
    }
    ~TTestMainLoop() {
        InstallMainThread(nullptr);
        InstallErrorDisplay(nullptr);
        queue_->Shut();
    }
    TTestMainLoop(const TTestMainLoop&) = delete;
    TTestMainLoop& operator=(const TTestMainLoop&) = delete;

    // Runs queued calls until done() holds (checked after every batch and at
    // least every few milliseconds), or the time-out passes. True when done.
    bool RunUntil(const std::function<bool()>& done,
                  std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            if (done()) {
                return true;
            }
            if (std::chrono::steady_clock::now() >= end) {
                return false;
            }
            if (queue_->WaitForCall(5)) {
                callsRun_ += queue_->RunPending();
            }
        }
    }

    // Runs queued calls for a while, e.g. to see that nothing arrives.
    void RunFor(std::chrono::milliseconds d) {
        RunUntil([] { return false; }, d);
    }

    // Runs the calls that are queued now, without waiting for more.
    int ProcessPending() {
        const int n = queue_->RunPending();
        callsRun_ += n;
        return n;
    }

    // True when a worker's call is queued, within timeoutMs; runs nothing.
    bool CallQueued(uint32_t timeoutMs) { return queue_->WaitForCall(timeoutMs); }

    std::vector<std::string> Errors() const { return display_->Texts(); }
    // Calls that went through the queue (not those run at once).
    int CallsRun() const { return callsRun_; }

  private:
    class Recorder : public IErrorDisplay {
      public:
        void ShowError(const std::string& text) override {
            std::lock_guard<std::mutex> l(m_);
            texts_.push_back(text);
        }
        std::vector<std::string> Texts() const {
            std::lock_guard<std::mutex> l(m_);
            return texts_;
        }

      private:
        mutable std::mutex m_;
        std::vector<std::string> texts_;
    };

    std::shared_ptr<TMainThreadQueue> queue_;
    std::shared_ptr<Recorder> display_;
    int callsRun_ = 0;
};

}  // namespace zp::test
