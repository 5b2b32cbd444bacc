#include "panel/qt_seams.h"

#include <QApplication>
#include <QCursor>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QThread>
#include <exception>
#include <memory>

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
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, qApp, [queue] { queue->Shut(); });
    InstallMainThread(queue);
    InstallErrorDisplay(std::make_shared<TQtErrorDisplay>());
}

void PauseMs(int milliseconds) {
    QThread::msleep(static_cast<unsigned long>(milliseconds));
}

}  // namespace zp
