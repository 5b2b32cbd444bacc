// Aperture gains.
#pragma once

#include "panel/page.h"
#include "panel/widgets/radio_group.h"

namespace zp {

class TAperturePage : public TPage {
    Q_OBJECT

  public:
    explicit TAperturePage(TCameraLink& link, QWidget* parent = nullptr);

  protected:
    void Decode() override;

  private slots:
    void HGainClick();
    void VGainClick();

  private:
    TRadioGroup* HGain = nullptr;
    TRadioGroup* VGain = nullptr;
};

}  // namespace zp
