// A push button that reports presses and releases, for controls that act
// while held.
#pragma once

#include <QPushButton>

namespace zp {

// A push button that reports mouse presses and releases of any mouse button
// and nothing else: a plain click or the keyboard focus on it does not act.
// The release is reported wherever the pointer is by then, so a drag off the
// button still ends the hold. A hold that can no longer end in a release (the
// button disabled, hidden, or its window deactivated while held) is reported
// as released at that moment, and only once.
//
// A key held for the button holds it too. Mouse and key make one hold:
// MouseDown when the first of them presses, MouseUp when the last lets go, so
// one hold never reports a second start or stop.
class TMotionButton : public QPushButton {
    Q_OBJECT

  public:
    explicit TMotionButton(const QString& caption, QWidget* parent = nullptr);

    bool Held() const { return holds_ != 0; }
    // Reports the hold as released now, if the button is held.
    void EndHold();
    void PressKey();
    void ReleaseKey();

  signals:
    void MouseDown();
    void MouseUp();

  protected:
    bool event(QEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

  private:
    static constexpr unsigned kByMouse = 1;
    static constexpr unsigned kByKey = 2;

    void Hold(unsigned by);
    void LetGo(unsigned by);

    unsigned holds_ = 0;
};

}  // namespace zp
