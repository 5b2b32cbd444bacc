// Aperture gains.
#pragma once

#include "panel/page.h"

namespace zp {

class TAperturePage : public TPage {
    Q_OBJECT

  public:
    explicit TAperturePage(TCameraLink& link, QWidget* parent = nullptr);

  private slots:
    void HGainClick() { SendBound("aperture.h_gain"); }
    void VGainClick() { SendBound("aperture.v_gain"); }
};

}  // namespace zp
