#include "panel/pages/colour_page.h"

#include <QPushButton>

#include "panel/widgets/radio_group.h"

namespace zp {

TColourPage::TColourPage(TCameraLink& link, QWidget* parent)
    : TPage(link, "ColorSheet", kGroupColour, parent) {
    // Created in tab order: the groups are not focusable themselves, so the
    // chain follows creation.
    auto* grid = GridOn(this, {16, 12, 16, 12}, 10, 8);
    Choices(grid, {{"colour.white_balance", "Color", 2, 0, 0, 1, 2},
                   {"colour.ry_gain", "RYGain", 1, 1, 2},
                   {"colour.by_gain", "BYGain", 1, 1, 3}});
    // Sends nothing: it only shows, by being enabled, that the camera is in
    // one-push mode.
    auto* WBOPB = Named(new QPushButton("ONE PUSH", this), "WBOPB", "ONE PUSH");
    WBOPB->setMinimumSize(97, 33);
    grid->addWidget(WBOPB, 0, 2, 1, 2, Qt::AlignLeft | Qt::AlignVCenter);
    auto* WBAutoLv = Choice("colour.auto_level", "WBAutoLv", 1, this);
    grid->addWidget(WBAutoLv, 1, 0);
    auto* WBOPLv = Choice("colour.one_push_level", "WBOPLv", 1, this);
    grid->addWidget(WBOPLv, 1, 1);
    EnableWith("colour.white_balance", {WBOPLv, WBOPB}, {WBAutoLv});
    grid->setColumnStretch(4, 1);
    grid->setRowStretch(2, 1);
}

}  // namespace zp
