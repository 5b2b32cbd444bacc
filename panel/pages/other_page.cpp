#include "panel/pages/other_page.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace zp {

namespace {

constexpr uint8_t kItemPreset = 0x00;
constexpr uint8_t kItemInitial = 0x01;
constexpr uint8_t kItemHRev = 0x02;
constexpr uint8_t kItemVRev = 0x03;
constexpr uint8_t kItemNega = 0x04;
constexpr uint8_t kItemPhase = 0x05;
constexpr uint8_t kItemPhaseLevel = 0x06;

constexpr int kOffsetMax = 100;

TRadioGroup* OffOn(const QString& caption, const char* name, QWidget* parent) {
    return NamedGroup(name, caption, {"OFF", "ON"}, 2, parent);
}

}  // namespace

TOtherPage::TOtherPage(TCameraLink& link, QWidget* parent)
    : TPage(link, "OtherSheet", "Oth", 0x54, parent) {
    Preset = NamedGroup("Preset", "Preset", {"CANCEL", "OK"}, 2, this);
    Initial = OffOn("Initial", "Initial", this);
    HRev = OffOn("H-Revers", "HRev", this);
    VRev = OffOn("V-Revers", "VRev", this);
    Nega = OffOn("Negative", "Nega", this);

    PhaseBox = new QGroupBox("Phase", this);
    PhaseBox->setObjectName("PhaseBox");
    Phase = OffOn(QString(), "Phase", PhaseBox);
    Phase->SetColumns(1);
    Phase->setAccessibleName("Phase");
    PhaseLv = NamedGroup("PhaseLv", "Level", LevelItems("MIN", 14), 2, PhaseBox);
    OffsetBox = new QGroupBox("Offset", PhaseBox);
    OffsetBox->setObjectName("OffsetBox");
    PhLvOf = new TSpinEdit(0, kOffsetMax, 0, OffsetBox);
    PhLvOf->setObjectName("PhLvOf");
    PhLvOf->setAccessibleName("Offset");
    PhOfD = PhLvOf->findChild<QLineEdit*>();
    PhOfD->setObjectName("PhOfD");
    PhOfD->setAccessibleName("Offset");
    auto* offset = new QVBoxLayout(OffsetBox);
    offset->addWidget(PhLvOf);

    auto* phaseLeft = new QVBoxLayout;
    phaseLeft->addWidget(Phase);
    phaseLeft->addWidget(OffsetBox);
    phaseLeft->addStretch(1);
    auto* phase = new QHBoxLayout(PhaseBox);
    phase->addLayout(phaseLeft);
    phase->addWidget(PhaseLv, 1);

    auto* switches = new QVBoxLayout;
    for (TRadioGroup* g : {Preset, Initial, HRev, VRev, Nega}) {
        switches->addWidget(g);
    }
    switches->addStretch(1);
    auto* page = new QHBoxLayout(this);
    page->setContentsMargins(16, 8, 16, 8);
    page->setSpacing(16);
    page->addLayout(switches, 2);
    auto* phaseColumn = new QVBoxLayout;
    phaseColumn->addWidget(PhaseBox);
    phaseColumn->addStretch(1);
    page->addLayout(phaseColumn, 3);

    connect(Preset, &TRadioGroup::Click, this, &TOtherPage::PresetClick);
    connect(Initial, &TRadioGroup::Click, this, &TOtherPage::InitialClick);
    connect(HRev, &TRadioGroup::Click, this, &TOtherPage::HRevClick);
    connect(VRev, &TRadioGroup::Click, this, &TOtherPage::VRevClick);
    connect(Nega, &TRadioGroup::Click, this, &TOtherPage::NegaClick);
    connect(Phase, &TRadioGroup::Click, this, &TOtherPage::PhaseClick);
    connect(PhaseLv, &TRadioGroup::Click, this, &TOtherPage::PhaseLvClick);
}

void TOtherPage::PresetClick() {
    SendIndex(kItemPreset, Preset);
}

void TOtherPage::InitialClick() {
    SendIndex(kItemInitial, Initial);
}

void TOtherPage::HRevClick() {
    SendIndex(kItemHRev, HRev);
}

void TOtherPage::VRevClick() {
    SendIndex(kItemVRev, VRev);
}

void TOtherPage::NegaClick() {
    SendIndex(kItemNega, Nega);
}

void TOtherPage::PhaseClick() {
    SendIndex(kItemPhase, Phase);
}

void TOtherPage::PhaseLvClick() {
    if (PhaseLv->ItemIndex() >= 0) {
        // The camera takes level and offset as one number, 0 ... 115.
        SendSet(kItemPhaseLevel, {static_cast<uint8_t>(PhaseLv->ItemIndex() + Offset())});
    }
}

void TOtherPage::Decode() {
    const auto& r = Reply();
    TRadioGroup* groups[] = {Preset, Initial, HRev, VRev, Nega, Phase, PhaseLv};
    for (size_t i = 0; i < 7; ++i) {
        groups[i]->SetItemIndex(r[5 + i]);
    }
    // Byte 11 is the level as the camera holds it: the offset is not taken off.
    PhaseLv->setEnabled(r[10] != 0);
}

}  // namespace zp
