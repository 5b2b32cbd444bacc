#include "colour_page.h"

namespace zp {

TColourPage::TColourPage(TCameraLink& link, QWidget* parent)
    : TPage(link, "ColorSheet", "Col", 0x1B, parent) {}

}  // namespace zp
