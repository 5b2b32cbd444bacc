// Exposure: ALC and the electronic shutter.
#pragma once

#include <QGroupBox>

#include "panel/page.h"
#include "panel/widgets/radio_group.h"

namespace zp {

class TAlcPage : public TPage {
    Q_OBJECT

  public:
    explicit TAlcPage(TCameraLink& link, QWidget* parent = nullptr);

  protected:
    // Decodes after the query and after every command, so the enabled level
    // groups always follow the mode the camera reports.
    void Decode() override;

  private:
    TRadioGroup* ALCAutoLv = nullptr;
    TRadioGroup* ALCFixLv = nullptr;
    TRadioGroup* AESAutoLv = nullptr;
    TRadioGroup* AESFixLv = nullptr;
};

}  // namespace zp
