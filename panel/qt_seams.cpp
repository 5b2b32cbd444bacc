#include "qt_seams.h"

#include <QApplication>
#include <QCursor>
#include <QMessageBox>
#include <QThread>

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
    auto* box = new QMessageBox(QMessageBox::Critical, QApplication::applicationDisplayName(), text,
                                QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}

TErrorHook SetErrorHook(TErrorHook hook) {
    TErrorHook old = std::move(Hook());
    Hook() = std::move(hook);
    return old;
}

void PauseMs(int milliseconds) {
    QThread::msleep(static_cast<unsigned long>(milliseconds));
}

}  // namespace zp
