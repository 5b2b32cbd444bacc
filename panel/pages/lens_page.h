// Zoom and focus: press-and-hold motion, fine steps, bar positions, digital
// zoom and the auto-focus modes.
#pragma once

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <cstdint>
#include <string>
#include <utility>

#include "panel/lens_keys.h"
#include "panel/page.h"
#include "panel/widgets/check_box.h"
#include "panel/widgets/motion_button.h"
#include "panel/widgets/track_bar.h"

namespace zp {

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
    using TMotion = TLensMotion;

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
