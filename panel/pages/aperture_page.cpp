#include "aperture_page.h"

#include <QHBoxLayout>

namespace zp {

namespace {

constexpr uint8_t kItemHGain = 0x00;
constexpr uint8_t kItemVGain = 0x01;

QStringList GainItems() {
    QStringList items{"MIN"};
    for (int i = 1; i <= 11; ++i) {
        items << QString("+%1").arg(i);
    }
    items << "MAX";
    return items;
}

}  // namespace

TAperturePage::TAperturePage(TCameraLink& link, QWidget* parent)
    : TPage(link, "APCSheet", "Ape", 0x47, parent) {
    HGain = new TRadioGroup("H-Gain", GainItems(), 1, this);
    HGain->setObjectName("HGain");
    VGain = new TRadioGroup("V-Gain", GainItems(), 1, this);
    VGain->setObjectName("VGain");
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
    if (HGain->ItemIndex() >= 0) {
        SendSet(kItemHGain, {static_cast<uint8_t>(HGain->ItemIndex())});
    }
}

void TAperturePage::VGainClick() {
    if (VGain->ItemIndex() >= 0) {
        SendSet(kItemVGain, {static_cast<uint8_t>(VGain->ItemIndex())});
    }
}

void TAperturePage::Decode() {
    HGain->SetItemIndex(Reply()[5]);
    VGain->SetItemIndex(Reply()[6]);
}

}  // namespace zp
