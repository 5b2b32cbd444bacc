// White balance and colour gains.
#pragma once

#include "panel/page.h"

namespace zp {

class TColourPage : public TPage {
    Q_OBJECT

  public:
    explicit TColourPage(TCameraLink& link, QWidget* parent = nullptr);

  private slots:
    void ColorClick() { SendBound("colour.white_balance"); }
    void WBAutoLvClick() { SendBound("colour.auto_level"); }
    void WBOPLvClick() { SendBound("colour.one_push_level"); }
    void RYGainClick() { SendBound("colour.ry_gain"); }
    void BYGainClick() { SendBound("colour.by_gain"); }
};

}  // namespace zp
