#include "alc_page.h"

namespace zp {

TAlcPage::TAlcPage(TCameraLink& link, QWidget* parent)
    : TPage(link, "ALCSheet", "ALC", 0x48, parent) {}

}  // namespace zp
