#include "panel/pages/colour_page.h"

#include <QPushButton>

#include "panel/widgets/radio_group.h"

namespace zp {

TColourPage::TColourPage(TCameraLink& link, QWidget* parent)
    : TPage(link, "ColorSheet", kGroupColour, parent) {
    // Created in tab order: the groups are not focusable themselves, so the
    // chain follows creation.
    auto* Color = Choice("colour.white_balance", "Color", 2, this);
    auto* RYGain = Choice("colour.ry_gain", "RYGain", 1, this);
    auto* BYGain = Choice("colour.by_gain", "BYGain", 1, this);
    // Sends nothing: it only shows, by being enabled, that the camera is in
    // one-push mode.
    auto* WBOPB = Named(new QPushButton("ONE PUSH", this), "WBOPB", "ONE PUSH");
    WBOPB->setMinimumSize(97, 33);
    auto* WBAutoLv = Choice("colour.auto_level", "WBAutoLv", 1, this);
    auto* WBOPLv = Choice("colour.one_push_level", "WBOPLv", 1, this);

    EnableWith("colour.white_balance", {WBOPLv, WBOPB}, {WBAutoLv});

    auto* grid = GridOn(this, {16, 12, 16, 12}, 10, 8);
    grid->addWidget(Color, 0, 0, 1, 2);
    grid->addWidget(WBOPB, 0, 2, 1, 2, Qt::AlignLeft | Qt::AlignVCenter);
    grid->addWidget(WBAutoLv, 1, 0);
    grid->addWidget(WBOPLv, 1, 1);
    grid->addWidget(RYGain, 1, 2);
    grid->addWidget(BYGain, 1, 3);
    grid->setColumnStretch(4, 1);
    grid->setRowStretch(2, 1);
}

}  // namespace zp
