// Motion detection with its 48-area grid.
#pragma once

#include <QGroupBox>

#include "panel/page.h"
#include "panel/widgets/area_grid.h"
#include "panel/widgets/radio_group.h"

namespace zp {

class TMotionPage : public TPage {
    Q_OBJECT

  public:
    explicit TMotionPage(TCameraLink& link, QWidget* parent = nullptr);

  protected:
    void Decode() override;

  private:
    TRadioGroup* MoLv = nullptr;
    TAreaGrid* MoArea2 = nullptr;
    TRadioGroup* MoTime = nullptr;
};

}  // namespace zp
