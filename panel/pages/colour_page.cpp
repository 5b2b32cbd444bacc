#include "panel/pages/colour_page.h"

#include <QGridLayout>

namespace zp {

namespace {

constexpr uint8_t kItemMode = 0x00;
constexpr uint8_t kItemAutoLevel = 0x01;
constexpr uint8_t kItemOnePushLevel = 0x02;
constexpr uint8_t kItemRyGain = 0x03;
constexpr uint8_t kItemByGain = 0x04;

}  // namespace

TColourPage::TColourPage(TCameraLink& link, QWidget* parent)
    : TPage(link, "ColorSheet", "Col", 0x1B, parent) {
    // Created in tab order: the groups are not focusable themselves, so the
    // chain follows creation.
    Color = NamedGroup("Color", "White Balance", {"AUTO", "ONE PUSH"}, 2, this);
    RYGain = NamedGroup("RYGain", "R-Y Gain", LevelItems("MIN", 7), 1, this);
    BYGain = NamedGroup("BYGain", "B-Y Gain", LevelItems("MIN", 7), 1, this);
    WBOPB = new QPushButton("ONE PUSH", this);
    WBOPB->setObjectName("WBOPB");
    WBOPB->setAccessibleName("ONE PUSH");
    WBOPB->setMinimumSize(97, 33);
    WBAutoLv = NamedGroup("WBAutoLv", "Auto Level", BalanceItems(), 1, this);
    WBOPLv = NamedGroup("WBOPLv", "ONE PUSH Level", BalanceItems(), 1, this);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(16, 12, 16, 12);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(8);
    grid->addWidget(Color, 0, 0, 1, 2);
    grid->addWidget(WBOPB, 0, 2, 1, 2, Qt::AlignLeft | Qt::AlignVCenter);
    grid->addWidget(WBAutoLv, 1, 0);
    grid->addWidget(WBOPLv, 1, 1);
    grid->addWidget(RYGain, 1, 2);
    grid->addWidget(BYGain, 1, 3);
    grid->setColumnStretch(4, 1);
    grid->setRowStretch(2, 1);

    connect(Color, &TRadioGroup::Click, this, &TColourPage::ColorClick);
    connect(WBAutoLv, &TRadioGroup::Click, this, &TColourPage::WBAutoLvClick);
    connect(WBOPLv, &TRadioGroup::Click, this, &TColourPage::WBOPLvClick);
    connect(RYGain, &TRadioGroup::Click, this, &TColourPage::RYGainClick);
    connect(BYGain, &TRadioGroup::Click, this, &TColourPage::BYGainClick);
}

void TColourPage::ColorClick() {
    SendIndex(kItemMode, Color);
}

void TColourPage::WBAutoLvClick() {
    SendIndex(kItemAutoLevel, WBAutoLv);
}

void TColourPage::WBOPLvClick() {
    SendIndex(kItemOnePushLevel, WBOPLv);
}

void TColourPage::RYGainClick() {
    SendIndex(kItemRyGain, RYGain);
}

void TColourPage::BYGainClick() {
    SendIndex(kItemByGain, BYGain);
}

void TColourPage::Decode() {
    const auto& r = Reply();
    Color->SetItemIndex(r[5]);
    WBAutoLv->SetItemIndex(r[6]);
    WBOPLv->SetItemIndex(r[7]);
    RYGain->SetItemIndex(r[8]);
    BYGain->SetItemIndex(r[9]);
    const bool onePush = r[5] != 0;
    WBAutoLv->setEnabled(!onePush);
    WBOPLv->setEnabled(onePush);
    WBOPB->setEnabled(onePush);
}

}  // namespace zp
