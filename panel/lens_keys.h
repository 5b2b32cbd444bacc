// The lens from the keyboard: keypad keys that hold the lens page's motion
// buttons while pressed.
#pragma once

#include <QObject>
#include <QTimer>
#include <map>
#include <set>

class QKeyEvent;

namespace zp {

class TLensPage;
class TMotionButton;

// The lens page's motion buttons.
enum class TLensMotion { Wide, Tele, Far, Near };

// The key that holds the motion's button, for its tooltip: "keypad -".
const char* MotionKeyName(TLensMotion m);

// The lens from the keyboard, in the whole window: while the page is enabled
// a key held anywhere in it holds its motion button, as the mouse does.
// Filtered application-wide, because a shortcut never sees the release.
// Keypad -/+ zoom wide/tele and keypad / and * focus far/near: no control
// uses those keys except to type them, and a control that would type a key
// (an editable field with the focus) keeps it. Auto-repeat is ignored; the
// window losing the focus ends the holds.
class TLensKeys : public QObject {
    Q_OBJECT

  public:
    // X11 repeats a held key as a release and a press, and Qt does not always
    // mark them: a release counts once no press of the key follows this soon.
    static constexpr int kRepeatGapMs = 50;

    explicit TLensKeys(TLensPage* page);

  protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

  private:
    bool Press(QObject* watched, QKeyEvent* e);
    bool Release(QKeyEvent* e);
    void ReleaseAll();
    void ReleasePending();

    TLensPage* page_;
    // The keys held, each with the button it holds.
    std::map<int, TMotionButton*> held_;
    // Held keys released, unless a press follows within kRepeatGapMs.
    std::set<int> releasing_;
    QTimer releaseTimer_;
};

}  // namespace zp
