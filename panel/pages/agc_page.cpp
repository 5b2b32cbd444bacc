#include "agc_page.h"

namespace zp {

TAgcPage::TAgcPage(TCameraLink& link, QWidget* parent)
    : TPage(link, "AGCSheet", "AGC", 0x1A, parent) {}

}  // namespace zp
