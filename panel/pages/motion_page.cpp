#include "motion_page.h"

#include <QGridLayout>
#include <QVBoxLayout>
#include <functional>

namespace zp {

namespace {

constexpr uint8_t kItemDetect = 0x00;
constexpr uint8_t kItemLevel = 0x01;
constexpr uint8_t kItemArea = 0x02;
constexpr uint8_t kItemTime = 0x03;
constexpr uint8_t kItemOsd = 0x04;

QStringList LevelItems() {
    QStringList items{"MIN"};
    for (int i = 1; i <= 8; ++i) {
        items << QString("+%1").arg(i);
    }
    items << "MAX";
    return items;
}

void SendIndex(TRadioGroup* group, const std::function<void(uint8_t)>& send) {
    if (group->ItemIndex() >= 0) {
        send(static_cast<uint8_t>(group->ItemIndex()));
    }
}

}  // namespace

TMotionPage::TMotionPage(TCameraLink& link, QWidget* parent)
    : TPage(link, "MotionSheet", "Mot", 0x23, parent) {
    MoDetect = new TRadioGroup("Detection", {"OFF", "ON"}, 2, this);
    MoDetect->setObjectName("MoDetect");
    MoOSD = new TRadioGroup("OSD", {"OFF", "ON"}, 2, this);
    MoOSD->setObjectName("MoOSD");
    MoLv = new TRadioGroup("Motion Level", LevelItems(), 1, this);
    MoLv->setObjectName("MoLv");
    MoArea = new QGroupBox("Motion Area", this);
    MoArea->setObjectName("MoArea");
    MoArea2 = new TAreaGrid("MoCheck", "Motion", MoArea);
    MoArea2->setObjectName("MoArea2");
    MoTime = new TRadioGroup("Motion Time", {"10sec", "30sec", "60sec"}, 1, this);
    MoTime->setObjectName("MoTime");

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
    SendIndex(MoDetect, [this](uint8_t i) { SendSet(kItemDetect, {i}); });
}

void TMotionPage::MoLvClick() {
    SendIndex(MoLv, [this](uint8_t i) { SendSet(kItemLevel, {i}); });
}

void TMotionPage::MoCheck01Click() {
    if (CanSend()) {
        SendArea();
    }
}

void TMotionPage::MoTimeClick() {
    SendIndex(MoTime, [this](uint8_t i) { SendSet(kItemTime, {i}); });
}

void TMotionPage::MoOSDClick() {
    SendIndex(MoOSD, [this](uint8_t i) { SendSet(kItemOsd, {i}); });
}

void TMotionPage::SendArea() {
    // The whole grid goes out, read from the boxes now, never only the one clicked.
    const AreaGridMask m = MoArea2->Mask();
    SendSet(kItemArea, {m[0], m[1], m[2], m[3], m[4], m[5]});
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
