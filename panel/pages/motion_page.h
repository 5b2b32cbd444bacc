// Motion detection with its 48-area grid.
#pragma once

#include "panel/page.h"

namespace zp {

class TMotionPage : public TPage {
    Q_OBJECT

  public:
    explicit TMotionPage(TCameraLink& link, QWidget* parent = nullptr);

  private slots:
    void MoDetectClick() { SendBound("motion.detection"); }
    void MoLvClick() { SendBound("motion.level"); }
    void MoCheck01Click() { SendBound("motion.area"); }
    void MoTimeClick() { SendBound("motion.time"); }
    void MoOSDClick() { SendBound("motion.osd"); }
};

}  // namespace zp
