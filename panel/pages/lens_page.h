// Zoom and focus: press-and-hold motion, fine steps, bar positions, digital
// zoom and the auto-focus modes.
#pragma once

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <cstdint>
#include <string>
#include <utility>

#include "check_box.h"
#include "page.h"
#include "track_bar.h"

namespace zp {

// A push button that reports mouse presses and releases of any mouse button
// and nothing else: a plain click or the keyboard does not move the lens.
// The release is reported wherever the pointer is by then, so a drag off the
// button still stops the motion. A hold that can no longer end in a release
// (the button disabled, hidden, or its window deactivated while held) is
// reported as released at that moment, and only once.
class TMotionButton : public QPushButton {
    Q_OBJECT

  public:
    explicit TMotionButton(const QString& caption, QWidget* parent = nullptr);

    bool Held() const { return held_; }
    // Reports the hold as released now, if the button is held.
    void EndHold();

  signals:
    void MouseDown();
    void MouseUp();

  protected:
    bool event(QEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

  private:
    bool held_ = false;
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
    explicit TLensPage(TCameraLink& link, QWidget* parent = nullptr);

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
    void DZoomClick();
    void AFocusClick();
    void AFTrackClick();
    void OnePushAFClick();

    int32_t LastZoomStep() const { return lastZoomStep_; }
    int32_t LastFocusStep() const { return lastFocusStep_; }

    // The pause before a stop; tests replace the real sleep.
    void SetReleasePause(TPause pause) { releasePause_ = std::move(pause); }

    QGroupBox* ZoomBox = nullptr;
    TMotionButton* WideSW = nullptr;
    TMotionButton* TeleSW = nullptr;
    QLineEdit* ZoomStep = nullptr;
    QPushButton* ZoomDN = nullptr;
    QPushButton* ZoomUP = nullptr;
    TTrackBar* ZoomBar = nullptr;
    TCheckBox* DZoom = nullptr;

    QGroupBox* FocusBox = nullptr;
    TMotionButton* FarSW = nullptr;
    TMotionButton* NearSW = nullptr;
    QLineEdit* FocusStep = nullptr;
    QPushButton* FocusDN = nullptr;
    QPushButton* FocusUP = nullptr;
    TTrackBar* FocusBar = nullptr;
    TCheckBox* AFocus = nullptr;
    TCheckBox* AFTrack = nullptr;
    TCheckBox* OnePushAF = nullptr;

  protected:
    void Decode() override;

  private:
    void Release(uint8_t stopItem, bool onePushFollows);
    void StepBy(QLineEdit* edit, int delta);
    void StepSend(QLineEdit* edit, uint8_t item, int32_t& last);
    void SendBar(uint8_t item, const TTrackBar* bar);

    int32_t lastZoomStep_ = 0;
    int32_t lastFocusStep_ = 0;
    TPause releasePause_;
};

}  // namespace zp
