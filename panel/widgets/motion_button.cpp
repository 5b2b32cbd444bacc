// The press-and-hold push button: one hold from mouse and key together.
#include "panel/widgets/motion_button.h"

#include <QEvent>
#include <QMouseEvent>

namespace zp {

TMotionButton::TMotionButton(const QString& caption, QWidget* parent)
    : QPushButton(caption, parent) {
    setAccessibleName(caption);
}

void TMotionButton::mousePressEvent(QMouseEvent* e) {
    QPushButton::mousePressEvent(e);
    e->accept();  // every button, not just the left one the base takes
    Hold(kByMouse);
}

void TMotionButton::mouseReleaseEvent(QMouseEvent* e) {
    QPushButton::mouseReleaseEvent(e);
    e->accept();
    LetGo(kByMouse);
}

void TMotionButton::PressKey() {
    Hold(kByKey);
}

void TMotionButton::ReleaseKey() {
    LetGo(kByKey);
}

void TMotionButton::Hold(unsigned by) {
    const bool first = holds_ == 0;
    holds_ |= by;
    setDown(true);
    if (first) {
        emit MouseDown();
    }
}

void TMotionButton::LetGo(unsigned by) {
    if ((holds_ & by) == 0) {
        return;
    }
    holds_ &= ~by;
    setDown(holds_ != 0);
    if (holds_ == 0) {
        emit MouseUp();
    }
}

bool TMotionButton::event(QEvent* e) {
    switch (e->type()) {
        case QEvent::EnabledChange:
            if (!isEnabled()) {
                EndHold();
            }
            break;
        case QEvent::Hide:
        case QEvent::WindowDeactivate:
            EndHold();
            break;
        default:
            break;
    }
    return QPushButton::event(e);
}

// The release that will never come: whatever the hold drives must not run on.
void TMotionButton::EndHold() {
    if (holds_ != 0) {
        holds_ = 0;
        setDown(false);
        emit MouseUp();
    }
}

}  // namespace zp
