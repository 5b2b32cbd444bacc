// The Qt side of the link's seams: the hourglass cursor, the error display
// and the pause.
#pragma once

#include <QApplication>
#include <QPointer>
#include <QString>
#include <functional>

class QSocketNotifier;
class QWidget;

namespace zp {

// The application-wide hourglass. Shown at most once however often it is
// asked for, and restored only if shown, so the override stack never grows.
class TBusyCursor {
  public:
    TBusyCursor() = default;
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;
    ~TBusyCursor() { Restore(); }
    void Show();
    void Restore();
    bool Shown() const { return shown_; }

  private:
    bool shown_ = false;
};

// Shows an error to the operator in a message box that does not block: the
// program goes on. Tests may divert the messages.
void ShowErrorMessage(const QString& text, QWidget* parent = nullptr);
// The same for an outcome the operator should read (a file saved, a check
// passed): an information box, or a warning; details, when given, are
// behind the box's "Show Details". The hook gets the text, then the details.
void ShowResultMessage(const QString& title, const QString& text, const QString& details,
                       bool warning, QWidget* parent = nullptr);
using TErrorHook = std::function<void(const QString&)>;
// Returns the previous hook; an empty hook restores the message box.
TErrorHook SetErrorHook(TErrorHook hook);

// The application: an exception that escapes any handler of an event (an
// operator's action, a timer, a notifier) is shown in the error display and
// the program goes on, instead of ending in Qt's event loop.
class TZoomApplication : public QApplication {
  public:
    TZoomApplication(int& argc, char** argv) : QApplication(argc, argv) {}
    bool notify(QObject* receiver, QEvent* event) override;
};

// The link's pause, without sleeping: for its length the main loop goes on
// painting and answering the accessibility bridge and the window manager (its
// ping), while operator input, timers and the serial component's calls wait
// in their queues, as they waited behind a sleep, and are handled after it.
void PauseMs(int milliseconds);
// True during such a pause. What reacts to the window system then (a window
// that loses the focus ends a hold) runs with AfterPause once it is over.
bool Pausing();
void AfterPause(std::function<void()> action);
// Runs what waits for the end of a pause, unless one is on. The end of each
// pause asks for it; before the line closes or changes a stop that waited
// must go out, so that asks for it too.
void RunAfterPause();
// During a pause, queues call(object) for after it, dropped if the object is
// gone by then, and returns true; otherwise false: the caller goes on now.
template <class TObject, class TCall>
bool AfterPauseIfPausing(TObject* object, TCall call) {
    if (!Pausing()) {
        return false;
    }
    AfterPause([o = QPointer<TObject>(object), call = std::move(call)] {
        if (o) {
            call(o.data());
        }
    });
    return true;
}
// A notifier that must not fire during a pause (the serial component's calls,
// hot-plug): not every event dispatcher leaves them out by itself.
void HoldDuringPauses(QSocketNotifier* notifier);

// Installs the Qt side of the serial component's crossing into the main
// thread (a queued call that the worker waits for; it gives up when the
// application quits) and its error display (ShowErrorMessage). Call once,
// in the main thread, after the QApplication exists.
void InstallQtSeams();

}  // namespace zp
