// Other picture switches.
#pragma once

#include "page.h"

namespace zp {

class TOtherPage : public TPage {
    Q_OBJECT

  public:
    explicit TOtherPage(TCameraLink& link, QWidget* parent = nullptr);
};

}  // namespace zp
