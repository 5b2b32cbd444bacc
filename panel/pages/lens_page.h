// Zoom and focus: press-and-hold motion, fine steps, bar positions, digital
// zoom and the auto-focus modes.
#pragma once

#include <QLineEdit>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "panel/lens_keys.h"
#include "panel/page.h"
#include "panel/widgets/check_box.h"
#include "panel/widgets/motion_button.h"
#include "panel/widgets/track_bar.h"

namespace zp {

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

    // The pause before a stop; tests replace the real one.
    void SetReleasePause(TPause pause) { releasePause_ = std::move(pause); }

  private slots:
    void DZoomClick() { SendBound("lens.digital_zoom"); }
    void AFocusClick() { SendBound("lens.auto_focus"); }
    void AFTrackClick() { SendBound("lens.af_tracking"); }
    void WideSWMouseDown() { Start("lens.wide"); }
    void WideSWMouseUp() { Release("lens.zoom_stop", true); }
    void TeleSWMouseDown() { Start("lens.tele"); }
    void TeleSWMouseUp() { Release("lens.zoom_stop", true); }
    void FarSWMouseDown() { Start("lens.far"); }
    void FarSWMouseUp() { Release("lens.focus_stop", false); }
    void NearSWMouseDown() { Start("lens.near"); }
    void NearSWMouseUp() { Release("lens.focus_stop", false); }
    void ZoomStepChange() { StepSend(ZoomStep, "lens.zoom_step", lastZoomStep_); }
    void FocusStepChange() { StepSend(FocusStep, "lens.focus_step", lastFocusStep_); }
    void ZoomDNClick() { StepBy(ZoomStep, -1); }
    void ZoomUPClick() { StepBy(ZoomStep, 1); }
    void FocusDNClick() { StepBy(FocusStep, -1); }
    void FocusUPClick() { StepBy(FocusStep, 1); }
    void ZoomBarChange() { SendBar("lens.zoom_position", ZoomBar); }
    void FocusBarChange() { SendBar("lens.focus_position", FocusBar); }
    void OnePushAFClick();

  private:
    // WideSW, TeleSW, FarSW, NearSW in the order of TMotion.
    std::array<TMotionButton*, 4> motionButtons_{};
    QLineEdit* ZoomStep = nullptr;
    TTrackBar* ZoomBar = nullptr;

    QLineEdit* FocusStep = nullptr;
    TTrackBar* FocusBar = nullptr;
    TCheckBox* AFocus = nullptr;
    TCheckBox* AFTrack = nullptr;
    TCheckBox* OnePushAF = nullptr;

    // Replies go to the page shown, so the page control tells whether this is it.
    bool Shown() const;
    void Start(std::string_view motion);
    void Release(std::string_view stop, bool onePushFollows);
    void StepBy(QLineEdit* edit, int delta);
    void StepSend(QLineEdit* edit, std::string_view step, int32_t& last);
    void SendBar(std::string_view position, const TTrackBar* bar);

    int32_t lastZoomStep_ = 0;
    int32_t lastFocusStep_ = 0;
    TPause releasePause_;
};

}  // namespace zp
