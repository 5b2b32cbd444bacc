// Back-light compensation with its 48-area grid.
#pragma once

#include <QLabel>

#include "panel/page.h"
#include "panel/widgets/area_grid.h"
#include "panel/widgets/radio_group.h"

namespace zp {

class TBlcPage : public TPage {
    Q_OBJECT

  public:
    explicit TBlcPage(TCameraLink& link, QWidget* parent = nullptr);

  protected:
    void Decode() override;

  private:
    TRadioGroup* BLCLv = nullptr;
    TAreaGrid* BLCArea = nullptr;
};

}  // namespace zp
