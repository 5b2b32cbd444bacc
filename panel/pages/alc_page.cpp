#include "panel/pages/alc_page.h"

#include <QGridLayout>
#include <QHBoxLayout>

namespace zp {

namespace {

constexpr uint8_t kItemAlc = 0x00;
constexpr uint8_t kItemAlcAuto = 0x01;
constexpr uint8_t kItemAlcFix = 0x02;
constexpr uint8_t kItemAes = 0x03;
constexpr uint8_t kItemAesAuto = 0x04;
constexpr uint8_t kItemAesFix = 0x05;

// One mode box: the AUTO/FIX choice on top, the two level groups below.
QGroupBox* ModeBox(const QString& caption, TRadioGroup* mode, TRadioGroup* autoLv,
                   TRadioGroup* fixLv, QWidget* parent) {
    auto* box = new QGroupBox(caption, parent);
    box->setAccessibleName(caption);
    mode->setParent(box);
    autoLv->setParent(box);
    fixLv->setParent(box);
    auto* grid = new QGridLayout(box);
    grid->setContentsMargins(12, 8, 12, 12);
    grid->setHorizontalSpacing(16);
    grid->setVerticalSpacing(8);
    grid->addWidget(mode, 0, 0, 1, 2);
    grid->addWidget(autoLv, 1, 0);
    grid->addWidget(fixLv, 1, 1);
    grid->setRowStretch(2, 1);
    return box;
}

}  // namespace

TAlcPage::TAlcPage(TCameraLink& link, QWidget* parent)
    : TPage(link, "ALCSheet", "ALC", 0x48, parent) {
    ALC = NamedGroup("ALC", QString(), {"AUTO", "FIX"}, 2, this);
    ALC->setAccessibleName("ALC");
    ALCAutoLv = NamedGroup("ALCAutoLv", "AUTO Level", LevelItems("MIN", 7), 1, this);
    ALCFixLv = NamedGroup("ALCFixLv", "FIX Level", LevelItems("MIN", 7), 1, this);
    AES = NamedGroup("AES", QString(), {"AUTO", "FIX"}, 2, this);
    AES->setAccessibleName("AES");
    AESAutoLv = NamedGroup("AESAutoLv", "AUTO Level", LevelItems("MIN", 7), 1, this);
    AESFixLv = NamedGroup(
        "AESFixLv", "FIX Level",
        {"OFF", "1/100", "1/250", "1/500", "1/1000", "1/2000", "1/4000", "1/10000"}, 1, this);

    GroupBox2 = ModeBox("ALC", ALC, ALCAutoLv, ALCFixLv, this);
    GroupBox2->setObjectName("GroupBox2");
    GroupBox3 = ModeBox("AES", AES, AESAutoLv, AESFixLv, this);
    GroupBox3->setObjectName("GroupBox3");

    auto* page = new QHBoxLayout(this);
    page->setContentsMargins(8, 24, 8, 12);
    page->setSpacing(15);
    page->addWidget(GroupBox2, 0, Qt::AlignTop);
    page->addWidget(GroupBox3, 0, Qt::AlignTop);
    page->addStretch(1);

    connect(ALC, &TRadioGroup::Click, this, &TAlcPage::ALCClick);
    connect(ALCAutoLv, &TRadioGroup::Click, this, &TAlcPage::ALCAutoLvClick);
    connect(ALCFixLv, &TRadioGroup::Click, this, &TAlcPage::ALCFixLvClick);
    connect(AES, &TRadioGroup::Click, this, &TAlcPage::AESClick);
    connect(AESAutoLv, &TRadioGroup::Click, this, &TAlcPage::AESAutoLvClick);
    connect(AESFixLv, &TRadioGroup::Click, this, &TAlcPage::AESFixLvClick);
}

void TAlcPage::ALCClick() {
    SendIndex(kItemAlc, ALC);
}

void TAlcPage::ALCAutoLvClick() {
    SendIndex(kItemAlcAuto, ALCAutoLv);
}

void TAlcPage::ALCFixLvClick() {
    SendIndex(kItemAlcFix, ALCFixLv);
}

void TAlcPage::AESClick() {
    SendIndex(kItemAes, AES);
}

void TAlcPage::AESAutoLvClick() {
    SendIndex(kItemAesAuto, AESAutoLv);
}

void TAlcPage::AESFixLvClick() {
    SendIndex(kItemAesFix, AESFixLv);
}

void TAlcPage::Decode() {
    const auto& r = Reply();
    ALC->SetItemIndex(r[5]);
    ALCAutoLv->SetItemIndex(r[6]);
    ALCFixLv->SetItemIndex(r[7]);
    AES->SetItemIndex(r[8]);
    AESAutoLv->SetItemIndex(r[9]);
    AESFixLv->SetItemIndex(r[10]);
    const bool alcAuto = r[5] == 0;
    ALCAutoLv->setEnabled(alcAuto);
    ALCFixLv->setEnabled(!alcAuto);
    const bool aesAuto = r[8] == 0;
    AESAutoLv->setEnabled(aesAuto);
    AESFixLv->setEnabled(!aesAuto);
}

}  // namespace zp
