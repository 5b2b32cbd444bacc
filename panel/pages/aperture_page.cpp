#include "aperture_page.h"

namespace zp {

TAperturePage::TAperturePage(TCameraLink& link, QWidget* parent)
    : TPage(link, "APCSheet", "Ape", 0x47, parent) {}

}  // namespace zp
