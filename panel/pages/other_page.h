// Other picture switches, and the phase with its level and offset.
#pragma once

#include <QLineEdit>

#include "panel/page.h"
#include "panel/widgets/radio_group.h"
#include "panel/widgets/spin_edit.h"

namespace zp {

class TOtherPage : public TPage {
    Q_OBJECT

  public:
    explicit TOtherPage(TCameraLink& link, QWidget* parent = nullptr);

  private slots:
    void PresetClick() { SendBound("other.preset"); }
    void InitialClick() { SendBound("other.initial"); }
    void HRevClick() { SendBound("other.h_reverse"); }
    void VRevClick() { SendBound("other.v_reverse"); }
    void NegaClick() { SendBound("other.negative"); }
    void PhaseClick() { SendBound("other.phase"); }
    void PhaseLvClick();

  private:
    TRadioGroup* PhaseLv = nullptr;
    // The offset's spinner; PhOfD is its edit. Its number is the offset in
    // force: the edit's, or the last valid one.
    TSpinEdit* PhLvOf = nullptr;
};

}  // namespace zp
