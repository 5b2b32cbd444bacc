#include "panel/pages/agc_page.h"

#include <QGridLayout>

namespace zp {

namespace {

// The priority is item 4 although it is the first byte of the reply.
constexpr uint8_t kItemPriority = 0x04;
constexpr uint8_t kItemAgcLevel = 0x01;
constexpr uint8_t kItemSensLevel = 0x02;

}  // namespace

TAgcPage::TAgcPage(TCameraLink& link, QWidget* parent)
    : TPage(link, "AGCSheet", "AGC", 0x1A, parent) {
    ASPriority = NamedGroup("ASPriority", "Priority", {"AGC", "SENS"}, 2, this);
    AGCLv = NamedGroup("AGCLv", "AGC Level", LevelItems("BASE", 7), 1, this);
    SENSLv = NamedGroup("SENSLv", "SENS Level",
                        {"OFF", "x2", "x4", "x6", "x8", "x12", "x16", "x32", "x64"}, 1, this);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(48, 24, 24, 12);
    grid->setHorizontalSpacing(60);
    grid->setVerticalSpacing(14);
    grid->addWidget(ASPriority, 0, 0, 1, 2);
    grid->addWidget(AGCLv, 1, 0);
    grid->addWidget(SENSLv, 1, 1);
    grid->setColumnStretch(2, 1);
    grid->setRowStretch(2, 1);

    connect(ASPriority, &TRadioGroup::Click, this, &TAgcPage::ASPriorityClick);
    connect(AGCLv, &TRadioGroup::Click, this, &TAgcPage::AGCLvClick);
    connect(SENSLv, &TRadioGroup::Click, this, &TAgcPage::SENSLvClick);
}

void TAgcPage::ASPriorityClick() {
    SendIndex(kItemPriority, ASPriority);
}

void TAgcPage::AGCLvClick() {
    SendIndex(kItemAgcLevel, AGCLv);
}

void TAgcPage::SENSLvClick() {
    SendIndex(kItemSensLevel, SENSLv);
}

void TAgcPage::HandleReply() {
    if (Reply()[1] == kDataReply && !LastSentWasQuery()) {
        ReleaseLink();
        return;
    }
    ReadBack(true);
}

void TAgcPage::Decode() {
    ASPriority->SetItemIndex(Reply()[5]);
    AGCLv->SetItemIndex(Reply()[6]);
    SENSLv->SetItemIndex(Reply()[7]);
}

}  // namespace zp
