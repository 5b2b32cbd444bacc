#include "blc_page.h"

namespace zp {

TBlcPage::TBlcPage(TCameraLink& link, QWidget* parent)
    : TPage(link, "BLCSheet", "BLC", 0x18, parent) {}

}  // namespace zp
