// Zoom and focus.
#pragma once

#include "page.h"

namespace zp {

class TLensPage : public TPage {
    Q_OBJECT

  public:
    explicit TLensPage(TCameraLink& link, QWidget* parent = nullptr);
};

}  // namespace zp
