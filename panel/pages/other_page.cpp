#include "panel/pages/other_page.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QVBoxLayout>

namespace zp {

constexpr int kOffsetMax = 100;

TOtherPage::TOtherPage(TCameraLink& link, QWidget* parent)
    : TPage(link, "OtherSheet", kGroupOther, parent) {
    auto* Preset = Choice("other.preset", "Preset", 2, this);
    auto* Initial = Choice("other.initial", "Initial", 2, this);
    auto* HRev = Choice("other.h_reverse", "HRev", 2, this);
    auto* VRev = Choice("other.v_reverse", "VRev", 2, this);
    auto* Nega = Choice("other.negative", "Nega", 2, this);

    auto* PhaseBox = Named(new QGroupBox("Phase", this), "PhaseBox");
    auto* Phase = Choice("other.phase", "Phase", 1, PhaseBox);
    Phase->setAccessibleName("Phase");
    PhaseLv = ChoiceGroup("other.phase_level", "PhaseLv", 2, PhaseBox);
    Bind("other.phase_level", PhaseLv);
    // The level as the camera holds it: the offset is not taken off.
    EnableWith("other.phase", {PhaseLv});
    auto* OffsetBox = Named(new QGroupBox("Offset", PhaseBox), "OffsetBox");
    PhLvOf = Named(new TSpinEdit(0, kOffsetMax, 0, OffsetBox), "PhLvOf", "Offset");
    Named(PhLvOf->findChild<QLineEdit*>(), "PhOfD", "Offset");
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
    auto* page = LayOut<QHBoxLayout>(this, {16, 8, 16, 8}, 16);
    page->addLayout(switches, 2);
    auto* phaseColumn = new QVBoxLayout;
    phaseColumn->addWidget(PhaseBox);
    phaseColumn->addStretch(1);
    page->addLayout(phaseColumn, 3);

    connect(PhaseLv, &TRadioGroup::Click, this, &TOtherPage::PhaseLvClick);
}

void TOtherPage::PhaseLvClick() {
    if (PhaseLv->ItemIndex() >= 0) {
        // The camera takes level and offset as one number, 0 ... 115.
        SendValue("other.phase_level", PhaseLv->ItemIndex() + PhLvOf->Value());
    }
}

}  // namespace zp
