#include "panel/pages/motion_page.h"

#include <QGridLayout>
#include <QVBoxLayout>

namespace zp {

namespace {

constexpr uint8_t kItemDetect = 0x00;
constexpr uint8_t kItemLevel = 0x01;
constexpr uint8_t kItemArea = 0x02;
constexpr uint8_t kItemTime = 0x03;
constexpr uint8_t kItemOsd = 0x04;

}  // namespace

TMotionPage::TMotionPage(TCameraLink& link, QWidget* parent)
    : TPage(link, "MotionSheet", "Mot", 0x23, parent) {
    MoDetect = NamedGroup("MoDetect", "Detection", {"OFF", "ON"}, 2, this);
    MoOSD = NamedGroup("MoOSD", "OSD", {"OFF", "ON"}, 2, this);
    MoLv = NamedGroup("MoLv", "Motion Level", LevelItems("MIN", 8), 1, this);
    MoArea = new QGroupBox("Motion Area", this);
    MoArea->setObjectName("MoArea");
    MoArea2 = new TAreaGrid("MoCheck", "Motion", MoArea);
    MoArea2->setObjectName("MoArea2");
    MoTime = NamedGroup("MoTime", "Motion Time", {"10sec", "30sec", "60sec"}, 1, this);

    auto* area = new QVBoxLayout(MoArea);
    area->addWidget(MoArea2, 0, Qt::AlignCenter);
    area->addStretch(1);

    auto* page = new QGridLayout(this);
    page->setContentsMargins(24, 12, 24, 12);
    page->setHorizontalSpacing(24);
    page->setVerticalSpacing(12);
    page->addWidget(MoDetect, 0, 0);
    page->addWidget(MoOSD, 0, 1);
    page->addWidget(MoLv, 1, 0, 2, 1);
    page->addWidget(MoArea, 1, 1);
    page->addWidget(MoTime, 2, 1, Qt::AlignTop | Qt::AlignLeft);
    page->setColumnStretch(2, 1);
    page->setRowStretch(3, 1);

    connect(MoDetect, &TRadioGroup::Click, this, &TMotionPage::MoDetectClick);
    connect(MoLv, &TRadioGroup::Click, this, &TMotionPage::MoLvClick);
    connect(MoArea2, &TAreaGrid::Click, this, &TMotionPage::MoCheck01Click);
    connect(MoTime, &TRadioGroup::Click, this, &TMotionPage::MoTimeClick);
    connect(MoOSD, &TRadioGroup::Click, this, &TMotionPage::MoOSDClick);
}

void TMotionPage::MoDetectClick() {
    SendIndex(kItemDetect, MoDetect);
}

void TMotionPage::MoLvClick() {
    SendIndex(kItemLevel, MoLv);
}

void TMotionPage::MoCheck01Click() {
    SendArea(kItemArea, MoArea2);
}

void TMotionPage::MoTimeClick() {
    SendIndex(kItemTime, MoTime);
}

void TMotionPage::MoOSDClick() {
    SendIndex(kItemOsd, MoOSD);
}

void TMotionPage::Decode() {
    const auto& r = Reply();
    MoDetect->SetItemIndex(r[5]);
    MoLv->SetItemIndex(r[6]);
    MoArea2->SetMask({r[7], r[8], r[9], r[10], r[11], r[12]});
    MoTime->SetItemIndex(r[13]);
    MoOSD->SetItemIndex(r[14]);
    // With detection off, level, areas and time are shown but cannot be changed.
    const bool on = r[5] != 0;
    MoLv->setEnabled(on);
    MoArea2->setEnabled(on);
    MoTime->setEnabled(on);
}

}  // namespace zp
