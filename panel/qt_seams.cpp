#include "panel/qt_seams.h"

#include <QApplication>
#include <QCursor>
#include <QEventLoop>
#include <QMessageBox>
#include <QPointer>
#include <QSocketNotifier>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "serial/main_thread.h"

namespace zp {

namespace {
TErrorHook& Hook() {
    static TErrorHook hook;
    return hook;
}
}  // namespace

void TBusyCursor::Show() {
    if (!shown_) {
        QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
        shown_ = true;
    }
}

void TBusyCursor::Restore() {
    if (shown_) {
        QApplication::restoreOverrideCursor();
        shown_ = false;
    }
}

void ShowErrorMessage(const QString& text, QWidget* parent) {
    if (Hook()) {
        Hook()(text);
        return;
    }
    // The same failure again (a cable that stays pulled) raises the box that
    // says so rather than piling up another.
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* open = qobject_cast<QMessageBox*>(w);
        if (open != nullptr && open->objectName() == "ErrorBox" && open->isVisible() &&
            open->text() == text) {
            open->raise();
            return;
        }
    }
    auto* box = new QMessageBox(QMessageBox::Critical, "26x Zoom", text, QMessageBox::Ok, parent);
    box->setObjectName("ErrorBox");
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}

void ShowResultMessage(const QString& title, const QString& text, const QString& details,
                       bool warning, QWidget* parent) {
    if (Hook()) {
        Hook()(details.isEmpty() ? text : text + "\n\n" + details);
        return;
    }
    auto* box = new QMessageBox(warning ? QMessageBox::Warning : QMessageBox::Information, title,
                                text, QMessageBox::Ok, parent);
    box->setObjectName("ResultBox");
    box->setDetailedText(details);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}

TErrorHook SetErrorHook(TErrorHook hook) {
    TErrorHook old = std::move(Hook());
    Hook() = std::move(hook);
    return old;
}

bool TZoomApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ShowErrorMessage(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        ShowErrorMessage("Unknown exception");
    }
    return false;
}

namespace {

class TQtErrorDisplay : public IErrorDisplay {
  public:
    void ShowError(const std::string& text) override {
        ShowErrorMessage(QString::fromLocal8Bit(text.c_str()));
    }
};

}  // namespace

void InstallQtSeams() {
    // Workers queue their calls; the GUI thread runs them when the queue's
    // descriptor turns readable, and releases waiting workers when it quits.
    auto queue = std::make_shared<TMainThreadQueue>();
    auto* notifier = new QSocketNotifier(queue->WakeHandle(), QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [queue] { queue->RunPending(); });
    HoldDuringPauses(notifier);
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, qApp, [queue] { queue->Shut(); });
    InstallMainThread(queue);
    InstallErrorDisplay(std::make_shared<TQtErrorDisplay>());
}

namespace {

using TClock = std::chrono::steady_clock;

// Ends each pause from a thread of its own: the pause's loop leaves the main
// thread's timers alone, so it cannot end on one of them. Pauses nest only
// when something reaches the link from inside one (an assistive tool's
// action), so each loop has its own deadline.
class TPauseClock {
  public:
    ~TPauseClock() {
        {
            std::lock_guard<std::mutex> g(mutex_);
            quit_ = true;
        }
        wake_.notify_one();
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    void EndAt(QEventLoop* loop, TClock::time_point at) {
        std::lock_guard<std::mutex> g(mutex_);
        if (!thread_.joinable()) {
            thread_ = std::thread([this] { Run(); });
        }
        due_.emplace_back(at, loop);
        wake_.notify_one();
    }

    // The loop has ended (its Quit came, or the application quits): its
    // entry must not outlive it.
    void Forget(QEventLoop* loop) {
        std::lock_guard<std::mutex> g(mutex_);
        due_.erase(std::remove_if(due_.begin(), due_.end(),
                                  [loop](const auto& d) { return d.second == loop; }),
                   due_.end());
    }

  private:
    void Run() {
        std::unique_lock<std::mutex> l(mutex_);
        while (!quit_) {
            if (due_.empty()) {
                wake_.wait(l);
                continue;
            }
            auto next = due_.begin();
            for (auto it = due_.begin(); it != due_.end(); ++it) {
                if (it->first < next->first) {
                    next = it;
                }
            }
            if (TClock::now() < next->first) {
                wake_.wait_until(l, next->first);
                continue;
            }
            // The loop lives until it has been forgotten, under this lock;
            // an event still pending when it ends dies with it. Qt owns the
            // event from here, so nothing of ours is shared with the main
            // thread.
            QCoreApplication::postEvent(next->second, new QEvent(QEvent::Quit));
            due_.erase(next);
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<std::pair<TClock::time_point, QEventLoop*>> due_;
    bool quit_ = false;
    std::thread thread_;
};

int& PauseDepth() {
    static int depth = 0;
    return depth;
}

std::vector<QPointer<QSocketNotifier>>& HeldNotifiers() {
    static std::vector<QPointer<QSocketNotifier>> held;
    return held;
}

std::deque<std::function<void()>>& AfterPauseQueue() {
    static std::deque<std::function<void()>> queue;
    return queue;
}

}  // namespace

void RunAfterPause() {
    auto& queue = AfterPauseQueue();
    // An action may pause again; the rest waits for the end of that pause.
    while (!Pausing() && !queue.empty()) {
        std::function<void()> action = std::move(queue.front());
        queue.pop_front();
        action();
    }
}

void PauseMs(int milliseconds) {
    static TPauseClock clock;
    QEventLoop loop;
    clock.EndAt(&loop, TClock::now() + std::chrono::milliseconds(milliseconds));
    std::vector<QPointer<QSocketNotifier>> held;
    for (const QPointer<QSocketNotifier>& n : HeldNotifiers()) {
        if (n && n->isEnabled()) {
            n->setEnabled(false);
            held.push_back(n);
        }
    }
    ++PauseDepth();
    // Window-system input, timers and socket notifiers (the serial component's
    // calls, hot-plug) stay queued; posted events (painting, the accessibility
    // bridge's calls) and the rest of the window system's traffic go on.
    loop.exec(QEventLoop::ExcludeUserInputEvents | QEventLoop::ExcludeSocketNotifiers |
              QEventLoop::X11ExcludeTimers);
    clock.Forget(&loop);
    --PauseDepth();
    for (const QPointer<QSocketNotifier>& n : held) {
        if (n) {
            n->setEnabled(true);
        }
    }
    if (!AfterPauseQueue().empty()) {
        // After what the paused code does next, from the main loop.
        QMetaObject::invokeMethod(qApp, &RunAfterPause, Qt::QueuedConnection);
    }
}

bool Pausing() {
    return PauseDepth() > 0;
}

void HoldDuringPauses(QSocketNotifier* notifier) {
    auto& held = HeldNotifiers();
    held.erase(std::remove(held.begin(), held.end(), nullptr), held.end());
    held.emplace_back(notifier);
}

void AfterPause(std::function<void()> action) {
    AfterPauseQueue().push_back(std::move(action));
}

}  // namespace zp
