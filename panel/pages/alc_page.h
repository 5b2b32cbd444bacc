// Exposure: ALC and the electronic shutter.
#pragma once

#include "panel/page.h"

namespace zp {

class TAlcPage : public TPage {
    Q_OBJECT

  public:
    explicit TAlcPage(TCameraLink& link, QWidget* parent = nullptr);

  private slots:
    void ALCClick() { SendBound("alc.alc"); }
    void ALCAutoLvClick() { SendBound("alc.alc_auto_level"); }
    void ALCFixLvClick() { SendBound("alc.alc_fix_level"); }
    void AESClick() { SendBound("alc.aes"); }
    void AESAutoLvClick() { SendBound("alc.aes_auto_level"); }
    void AESFixLvClick() { SendBound("alc.aes_fix_level"); }
};

}  // namespace zp
