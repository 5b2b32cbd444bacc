// Exposure: ALC and the electronic shutter.
#pragma once

#include "panel/page.h"

namespace zp {

class TAlcPage : public TPage {
    Q_OBJECT

  public:
    explicit TAlcPage(TCameraLink& link, QWidget* parent = nullptr);
};

}  // namespace zp
