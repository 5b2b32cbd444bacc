#include "panel/pages/blc_page.h"

#include <QGridLayout>
#include <QVBoxLayout>

namespace zp {

namespace {

constexpr uint8_t kItemOnOff = 0x00;
constexpr uint8_t kItemLevel = 0x01;
constexpr uint8_t kItemArea = 0x02;

}  // namespace

TBlcPage::TBlcPage(TCameraLink& link, QWidget* parent)
    : TPage(link, "BLCSheet", "BLC", 0x18, parent) {
    BLC = NamedGroup("BLC", "BLC", {"OFF", "ON"}, 2, this);
    BLCLv = NamedGroup("BLCLv", "BLC Level", LevelItems("MIN", 6), 1, this);
    Label2 = new QLabel("BLC Area", this);
    Label2->setObjectName("Label2");
    BLCArea = new TAreaGrid("BLCCheck", "BLC", this);
    BLCArea->setObjectName("BLCArea");
    Label2->setBuddy(BLCArea);

    auto* area = new QVBoxLayout;
    area->setSpacing(8);
    area->addWidget(Label2);
    area->addWidget(BLCArea, 0, Qt::AlignLeft);
    area->addStretch(1);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(32, 12, 24, 12);
    grid->setHorizontalSpacing(48);
    grid->setVerticalSpacing(20);
    grid->addWidget(BLC, 0, 0, 1, 2);
    grid->addWidget(BLCLv, 1, 0, Qt::AlignTop);
    grid->addLayout(area, 1, 1);
    grid->setColumnStretch(2, 1);
    grid->setRowStretch(2, 1);

    connect(BLC, &TRadioGroup::Click, this, &TBlcPage::BLCClick);
    connect(BLCLv, &TRadioGroup::Click, this, &TBlcPage::BLCLvClick);
    connect(BLCArea, &TAreaGrid::Click, this, &TBlcPage::BLCCheck01Click);
}

void TBlcPage::BLCClick() {
    SendIndex(kItemOnOff, BLC);
}

void TBlcPage::BLCLvClick() {
    SendIndex(kItemLevel, BLCLv);
}

void TBlcPage::BLCCheck01Click() {
    SendArea(kItemArea, BLCArea);
}

void TBlcPage::Decode() {
    const auto& r = Reply();
    BLC->SetItemIndex(r[5]);
    BLCLv->SetItemIndex(r[6]);
    BLCArea->SetMask({r[7], r[8], r[9], r[10], r[11], r[12]});
    const bool on = r[5] != 0;
    BLCLv->setEnabled(on);
    BLCArea->setEnabled(on);
}

}  // namespace zp
