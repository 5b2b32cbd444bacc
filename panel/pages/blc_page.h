// Back-light compensation with its 48-area grid.
#pragma once

#include "panel/page.h"

namespace zp {

class TBlcPage : public TPage {
    Q_OBJECT

  public:
    explicit TBlcPage(TCameraLink& link, QWidget* parent = nullptr);

  private slots:
    void BLCClick() { SendBound("blc.blc"); }
    void BLCLvClick() { SendBound("blc.level"); }
    void BLCCheck01Click() { SendBound("blc.area"); }
};

}  // namespace zp
