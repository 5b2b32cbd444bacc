// White balance and colour gains.
#pragma once

#include "panel/page.h"

namespace zp {

class TColourPage : public TPage {
    Q_OBJECT

  public:
    explicit TColourPage(TCameraLink& link, QWidget* parent = nullptr);
};

}  // namespace zp
