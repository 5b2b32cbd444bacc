// Other picture switches, and the phase with its level and offset.
#pragma once

#include <QGroupBox>
#include <QLineEdit>

#include "panel/page.h"
#include "panel/widgets/radio_group.h"
#include "panel/widgets/spin_edit.h"

namespace zp {

class TOtherPage : public TPage {
    Q_OBJECT

  public:
    explicit TOtherPage(TCameraLink& link, QWidget* parent = nullptr);

  protected:
    void Decode() override;

  private slots:
    void PhaseLvClick();

  private:
    // The level offset in force: the edit's number, or the last valid one.
    int Offset() const { return PhLvOf->Value(); }

    TRadioGroup* PhaseLv = nullptr;
    // The offset's spinner; PhOfD is its edit.
    TSpinEdit* PhLvOf = nullptr;
};

}  // namespace zp
