#include "panel/pages/aperture_page.h"

#include <QHBoxLayout>

namespace zp {

namespace {

constexpr uint8_t kItemHGain = 0x00;
constexpr uint8_t kItemVGain = 0x01;

}  // namespace

TAperturePage::TAperturePage(TCameraLink& link, QWidget* parent)
    : TPage(link, "APCSheet", "Ape", 0x47, parent) {
    HGain = NamedGroup("HGain", "H-Gain", LevelItems("MIN", 11), 1, this);
    VGain = NamedGroup("VGain", "V-Gain", LevelItems("MIN", 11), 1, this);
    auto* page = new QHBoxLayout(this);
    page->setContentsMargins(24, 12, 24, 12);
    page->setSpacing(24);
    page->addWidget(HGain);
    page->addWidget(VGain);
    page->addStretch(1);

    connect(HGain, &TRadioGroup::Click, this, &TAperturePage::HGainClick);
    connect(VGain, &TRadioGroup::Click, this, &TAperturePage::VGainClick);
}

void TAperturePage::HGainClick() {
    SendIndex(kItemHGain, HGain);
}

void TAperturePage::VGainClick() {
    SendIndex(kItemVGain, VGain);
}

void TAperturePage::Decode() {
    HGain->SetItemIndex(Reply()[5]);
    VGain->SetItemIndex(Reply()[6]);
}

}  // namespace zp
