#include "position_page.h"

namespace zp {

TPositionPage::TPositionPage(TCameraLink& link, QWidget* parent)
    : TPage(link, "PosSheet", "Pos", 0x52, parent) {}

}  // namespace zp
