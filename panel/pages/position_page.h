// Position memories.
#pragma once

#include "page.h"

namespace zp {

class TPositionPage : public TPage {
    Q_OBJECT

  public:
    explicit TPositionPage(TCameraLink& link, QWidget* parent = nullptr);
};

}  // namespace zp
