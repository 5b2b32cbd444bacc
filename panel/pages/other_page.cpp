#include "other_page.h"

namespace zp {

TOtherPage::TOtherPage(TCameraLink& link, QWidget* parent)
    : TPage(link, "OtherSheet", "Oth", 0x54, parent) {}

}  // namespace zp
