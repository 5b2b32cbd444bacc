#include "lens_page.h"

namespace zp {

TLensPage::TLensPage(TCameraLink& link, QWidget* parent)
    : TPage(link, "LensSheet", "Len", 0x21, parent) {}

}  // namespace zp
