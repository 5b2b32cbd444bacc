// Gain: AGC and sensitivity priority and levels.
#pragma once

#include "page.h"

namespace zp {

class TAgcPage : public TPage {
    Q_OBJECT

  public:
    explicit TAgcPage(TCameraLink& link, QWidget* parent = nullptr);
};

}  // namespace zp
