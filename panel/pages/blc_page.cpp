#include "panel/pages/blc_page.h"

#include <QLabel>
#include <QVBoxLayout>

#include "panel/widgets/area_grid.h"
#include "panel/widgets/radio_group.h"

namespace zp {

TBlcPage::TBlcPage(TCameraLink& link, QWidget* parent)
    : TPage(link, "BLCSheet", kGroupBlc, parent) {
    auto* BLC = Choice("blc.blc", "BLC", 2, this);
    auto* BLCLv = Choice("blc.level", "BLCLv", 1, this);
    auto* Label2 = Named(new QLabel("BLC Area", this), "Label2");
    auto* BLCArea = Area("blc.area", "BLCArea", "BLCCheck", "BLC", this);
    Label2->setBuddy(BLCArea);
    EnableWith("blc.blc", {BLCLv, BLCArea});

    auto* area = new QVBoxLayout;
    area->setSpacing(8);
    area->addWidget(Label2);
    area->addWidget(BLCArea, 0, Qt::AlignLeft);
    area->addStretch(1);

    auto* grid = GridOn(this, {32, 12, 24, 12}, 48, 20);
    grid->addWidget(BLC, 0, 0, 1, 2);
    grid->addWidget(BLCLv, 1, 0, Qt::AlignTop);
    grid->addLayout(area, 1, 1);
    grid->setColumnStretch(2, 1);
    grid->setRowStretch(2, 1);
}

}  // namespace zp
