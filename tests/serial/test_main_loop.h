// A main loop for tests: installs the synchronised call and the error display
// for the thread that creates it, and runs queued calls while a test waits for
// a condition. Calls still queued when the loop is destroyed are released
// without running, as when the application's loop has ended.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "main_thread.h"

namespace zp::test {

class TTestMainLoop {
  public:
    TTestMainLoop() : core_(std::make_shared<Core>()) {
        InstallMainThread(core_);
        InstallErrorDisplay(core_);
    }
    ~TTestMainLoop() {
        InstallMainThread(nullptr);
        InstallErrorDisplay(nullptr);
        core_->Shut();
    }
    TTestMainLoop(const TTestMainLoop&) = delete;
    TTestMainLoop& operator=(const TTestMainLoop&) = delete;

    // Runs queued calls until done() holds (checked after every call and at
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
            core_->RunOne(std::chrono::milliseconds(5));
        }
    }

    // Runs queued calls for a while, e.g. to see that nothing arrives.
    void RunFor(std::chrono::milliseconds d) {
        RunUntil([] { return false; }, d);
    }

    // Runs the calls that are queued now, without waiting for more.
    int ProcessPending() {
        int n = 0;
        while (core_->RunOne(std::chrono::milliseconds(0))) {
            ++n;
        }
        return n;
    }

    std::vector<std::string> Errors() const { return core_->Errors(); }
    int CallsRun() const { return core_->CallsRun(); }

  private:
    struct Item {
        const std::function<void()>* call;
        bool done = false;
        bool ran = false;
    };

    class Core : public IMainThread, public IErrorDisplay {
      public:
        bool Synchronize(const std::function<void()>& call) override {
            auto item = std::make_shared<Item>();
            item->call = &call;
            std::unique_lock<std::mutex> l(m_);
            if (shut_) {
                return false;
            }
            queue_.push_back(item);
            arrived_.notify_all();
            finished_.wait(l, [&] { return item->done; });
            return item->ran;
        }

        void ShowError(const std::string& text) override {
            std::lock_guard<std::mutex> l(m_);
            errors_.push_back(text);
        }

        // Waits up to `wait` for a call and runs it; false when none came.
        bool RunOne(std::chrono::milliseconds wait) {
            std::shared_ptr<Item> item;
            {
                std::unique_lock<std::mutex> l(m_);
                if (!arrived_.wait_for(l, wait, [&] { return !queue_.empty(); })) {
                    return false;
                }
                item = queue_.front();
                queue_.pop_front();
            }
            (*item->call)();
            std::lock_guard<std::mutex> l(m_);
            item->done = true;
            item->ran = true;
            ++callsRun_;
            finished_.notify_all();
            return true;
        }

        void Shut() {
            std::lock_guard<std::mutex> l(m_);
            shut_ = true;
            for (auto& item : queue_) {
                item->done = true;
            }
            queue_.clear();
            finished_.notify_all();
        }

        std::vector<std::string> Errors() const {
            std::lock_guard<std::mutex> l(m_);
            return errors_;
        }
        int CallsRun() const {
            std::lock_guard<std::mutex> l(m_);
            return callsRun_;
        }

      private:
        mutable std::mutex m_;
        std::condition_variable arrived_;
        std::condition_variable finished_;
        std::deque<std::shared_ptr<Item>> queue_;
        std::vector<std::string> errors_;
        int callsRun_ = 0;
        bool shut_ = false;
    };

    std::shared_ptr<Core> core_;
};

}  // namespace zp::test
