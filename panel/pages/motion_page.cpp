#include "panel/pages/motion_page.h"

#include <QGroupBox>
#include <QVBoxLayout>

#include "panel/widgets/area_grid.h"
#include "panel/widgets/radio_group.h"

namespace zp {

TMotionPage::TMotionPage(TCameraLink& link, QWidget* parent)
    : TPage(link, "MotionSheet", kGroupMotion, parent) {
    auto* page = GridOn(this, {24, 12, 24, 12}, 24, 12);
    Choices(page, {{"motion.detection", "MoDetect", 2, 0, 0}, {"motion.osd", "MoOSD", 2, 0, 1}});
    auto* MoLv = Choice("motion.level", "MoLv", 1, this);
    auto* MoArea = Named(new QGroupBox("Motion Area", this), "MoArea");
    auto* MoArea2 = Area("motion.area", "MoArea2", "MoCheck", "Motion", MoArea);
    auto* MoTime = Choice("motion.time", "MoTime", 1, this);

    auto* area = new QVBoxLayout(MoArea);
    area->addWidget(MoArea2, 0, Qt::AlignCenter);
    area->addStretch(1);

    // With detection off, level, areas and time are shown but cannot be changed.
    EnableWith("motion.detection", {MoLv, MoArea2, MoTime});

    page->addWidget(MoLv, 1, 0, 2, 1);
    page->addWidget(MoArea, 1, 1);
    page->addWidget(MoTime, 2, 1, Qt::AlignTop | Qt::AlignLeft);
    page->setColumnStretch(2, 1);
    page->setRowStretch(3, 1);
}

}  // namespace zp
