#include "panel/pages/alc_page.h"

#include <QGroupBox>
#include <QHBoxLayout>

#include "panel/widgets/radio_group.h"

namespace zp {

namespace {

// One mode box: the AUTO/FIX choice on top, the two level groups below.
QGroupBox* ModeBox(const QString& caption, TRadioGroup* mode, TRadioGroup* autoLv,
                   TRadioGroup* fixLv, QWidget* parent) {
    auto* box = new QGroupBox(caption, parent);
    box->setAccessibleName(caption);
    mode->setParent(box);
    autoLv->setParent(box);
    fixLv->setParent(box);
    auto* grid = GridOn(box, {12, 8, 12, 12}, 16, 8);
    grid->addWidget(mode, 0, 0, 1, 2);
    grid->addWidget(autoLv, 1, 0);
    grid->addWidget(fixLv, 1, 1);
    grid->setRowStretch(2, 1);
    return box;
}

}  // namespace

TAlcPage::TAlcPage(TCameraLink& link, QWidget* parent)
    : TPage(link, "ALCSheet", kGroupAlc, parent) {
    // The mode groups go without a caption: their box says it.
    auto* ALC = Choice("alc.alc", "ALC", 2, this);
    ALC->setAccessibleName("ALC");
    auto* ALCAutoLv = Choice("alc.alc_auto_level", "ALCAutoLv", 1, this);
    auto* ALCFixLv = Choice("alc.alc_fix_level", "ALCFixLv", 1, this);
    auto* AES = Choice("alc.aes", "AES", 2, this);
    AES->setAccessibleName("AES");
    auto* AESAutoLv = Choice("alc.aes_auto_level", "AESAutoLv", 1, this);
    auto* AESFixLv = Choice("alc.aes_fix_level", "AESFixLv", 1, this);

    auto* GroupBox2 = Named(ModeBox("ALC", ALC, ALCAutoLv, ALCFixLv, this), "GroupBox2");
    auto* GroupBox3 = Named(ModeBox("AES", AES, AESAutoLv, AESFixLv, this), "GroupBox3");

    // After the query and after every command, so that the enabled level
    // groups always follow the mode the camera reports.
    EnableWith("alc.alc", {ALCFixLv}, {ALCAutoLv});
    EnableWith("alc.aes", {AESFixLv}, {AESAutoLv});

    auto* page = LayOut<QHBoxLayout>(this, {8, 24, 8, 12}, 15);
    page->addWidget(GroupBox2, 0, Qt::AlignTop);
    page->addWidget(GroupBox3, 0, Qt::AlignTop);
    page->addStretch(1);
}

}  // namespace zp
