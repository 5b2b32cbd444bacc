// White balance and colour gains.
#pragma once

#include <QPushButton>

#include "panel/page.h"
#include "panel/widgets/radio_group.h"

namespace zp {

class TColourPage : public TPage {
    Q_OBJECT

  public:
    explicit TColourPage(TCameraLink& link, QWidget* parent = nullptr);

  protected:
    void Decode() override;

  private:
    // Sends nothing: it only shows, by being enabled, that the camera is in
    // one-push mode.
    QPushButton* WBOPB = nullptr;
    TRadioGroup* WBAutoLv = nullptr;
    TRadioGroup* WBOPLv = nullptr;
};

}  // namespace zp
