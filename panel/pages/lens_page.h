// Zoom and focus: press-and-hold motion, fine steps, bar positions, digital
// zoom and the auto-focus modes.
#pragma once

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "panel/page.h"
#include "panel/widgets/check_box.h"
#include "panel/widgets/track_bar.h"

namespace zp {

// A push button that reports mouse presses and releases of any mouse button
// and nothing else: a plain click or the keyboard focus on it does not move
// the lens. The release is reported wherever the pointer is by then, so a
// drag off the button still stops the motion. A hold that can no longer end
// in a release (the button disabled, hidden, or its window deactivated while
// held) is reported as released at that moment, and only once.
//
// A key held for the button (see TLensKeys) holds it too. Mouse and key make
// one hold: MouseDown when the first of them presses, MouseUp when the last
// lets go, so the camera never gets a second start or stop for one motion.
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

class TLensPage;

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

// Bar positions on the one-byte wire: the range maps linearly onto 0..255,
// the byte rising with the position, and back.
uint8_t BarToByte(int position, int min, int max);
int ByteToBar(uint8_t b, int min, int max);

// The text a step button leaves in a step edit: the edit's text as a signed
// four-character number plus delta, kept to 16 bits.
std::string SteppedText(const std::string& text, int delta);

class TLensPage : public TPage {
    Q_OBJECT

  public:
    // The motion buttons, for the keys that hold them.
    enum class TMotion { Wide, Tele, Far, Near };

    explicit TLensPage(TCameraLink& link, QWidget* parent = nullptr);

    TMotionButton* MotionButton(TMotion m) const;

    // The step values last sent, which a new text must differ from to go out.
    int32_t LastZoomStep() const { return lastZoomStep_; }
    int32_t LastFocusStep() const { return lastFocusStep_; }

    // The pause before a stop; tests replace the real sleep.
    void SetReleasePause(TPause pause) { releasePause_ = std::move(pause); }

  protected:
    void Decode() override;

  private slots:
    void WideSWMouseDown();
    void WideSWMouseUp();
    void TeleSWMouseDown();
    void TeleSWMouseUp();
    void FarSWMouseDown();
    void FarSWMouseUp();
    void NearSWMouseDown();
    void NearSWMouseUp();
    void ZoomStepChange();
    void FocusStepChange();
    void ZoomDNClick();
    void ZoomUPClick();
    void FocusDNClick();
    void FocusUPClick();
    void ZoomBarChange();
    void FocusBarChange();
    void OnePushAFClick();

  private:
    TMotionButton* WideSW = nullptr;
    TMotionButton* TeleSW = nullptr;
    QLineEdit* ZoomStep = nullptr;
    TTrackBar* ZoomBar = nullptr;

    TMotionButton* FarSW = nullptr;
    TMotionButton* NearSW = nullptr;
    QLineEdit* FocusStep = nullptr;
    TTrackBar* FocusBar = nullptr;
    TCheckBox* AFocus = nullptr;
    TCheckBox* AFTrack = nullptr;
    TCheckBox* OnePushAF = nullptr;

    // Replies go to the page shown, so the page control tells whether this is it.
    bool Shown() const;
    void Start(uint8_t item);
    void Release(uint8_t stopItem, bool onePushFollows);
    void StepBy(QLineEdit* edit, int delta);
    void StepSend(QLineEdit* edit, uint8_t item, int32_t& last);
    void SendBar(uint8_t item, const TTrackBar* bar);

    int32_t lastZoomStep_ = 0;
    int32_t lastFocusStep_ = 0;
    TPause releasePause_;
};

}  // namespace zp
