#include "panel/pages/aperture_page.h"

#include <QHBoxLayout>

namespace zp {

TAperturePage::TAperturePage(TCameraLink& link, QWidget* parent)
    : TPage(link, "APCSheet", kGroupAperture, parent) {
    auto* HGain = Choice("aperture.h_gain", "HGain", 1, this);
    auto* VGain = Choice("aperture.v_gain", "VGain", 1, this);
    auto* page = new QHBoxLayout(this);
    page->setContentsMargins(24, 12, 24, 12);
    page->setSpacing(24);
    page->addWidget(HGain);
    page->addWidget(VGain);
    page->addStretch(1);
}

}  // namespace zp
