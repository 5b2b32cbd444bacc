// Aperture gains.
#pragma once

#include "panel/page.h"

namespace zp {

class TAperturePage : public TPage {
    Q_OBJECT

  public:
    explicit TAperturePage(TCameraLink& link, QWidget* parent = nullptr);
};

}  // namespace zp
