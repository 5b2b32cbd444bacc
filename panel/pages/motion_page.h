// Motion detection with its 48-area grid.
#pragma once

#include "panel/page.h"

namespace zp {

class TMotionPage : public TPage {
    Q_OBJECT

  public:
    explicit TMotionPage(TCameraLink& link, QWidget* parent = nullptr);
};

}  // namespace zp
