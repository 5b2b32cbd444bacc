// Gain: AGC and sensitivity priority and levels.
#pragma once

#include "panel/page.h"

namespace zp {

class TAgcPage : public TPage {
    Q_OBJECT

  public:
    explicit TAgcPage(TCameraLink& link, QWidget* parent = nullptr);

    // Only the answer to the query is decoded; the answer to a command just
    // frees the link, so the page keeps the operator's choice.
    void HandleReply() override;

  private slots:
    void ASPriorityClick() { SendBound("agc.priority"); }
    void AGCLvClick() { SendBound("agc.agc_level"); }
    void SENSLvClick() { SendBound("agc.sens_level"); }
};

}  // namespace zp
