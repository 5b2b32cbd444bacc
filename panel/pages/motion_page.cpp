#include "motion_page.h"

namespace zp {

TMotionPage::TMotionPage(TCameraLink& link, QWidget* parent)
    : TPage(link, "MotionSheet", "Mot", 0x23, parent) {}

}  // namespace zp
