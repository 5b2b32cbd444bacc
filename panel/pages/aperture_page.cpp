#include "panel/pages/aperture_page.h"

#include <QHBoxLayout>

#include "panel/widgets/radio_group.h"

namespace zp {

TAperturePage::TAperturePage(TCameraLink& link, QWidget* parent)
    : TPage(link, "APCSheet", kGroupAperture, parent) {
    auto* page = LayOut<QHBoxLayout>(this, {24, 12, 24, 12}, 24);
    page->addWidget(Choice("aperture.h_gain", "HGain", 1, this));
    page->addWidget(Choice("aperture.v_gain", "VGain", 1, this));
    page->addStretch(1);
}

}  // namespace zp
