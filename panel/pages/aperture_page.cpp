#include "panel/pages/aperture_page.h"

#include <QHBoxLayout>

namespace zp {

TAperturePage::TAperturePage(TCameraLink& link, QWidget* parent)
    : TPage(link, "APCSheet", kGroupAperture, parent) {
    auto* page = new QHBoxLayout(this);
    page->setContentsMargins(24, 12, 24, 12);
    page->setSpacing(24);
    page->addWidget(Choice("aperture.h_gain", "HGain", 1, this));
    page->addWidget(Choice("aperture.v_gain", "VGain", 1, this));
    page->addStretch(1);
}

}  // namespace zp
