#include "panel/pages/agc_page.h"

namespace zp {

TAgcPage::TAgcPage(TCameraLink& link, QWidget* parent)
    : TPage(link, "AGCSheet", kGroupAgc, parent) {
    auto* grid = GridOn(this, {48, 24, 24, 12}, 60, 14);
    Choices(grid, {{"agc.priority", "ASPriority", 2, 0, 0, 1, 2},
                   {"agc.agc_level", "AGCLv", 1, 1, 0},
                   {"agc.sens_level", "SENSLv", 1, 1, 1}});
    grid->setColumnStretch(2, 1);
    grid->setRowStretch(2, 1);
}

void TAgcPage::HandleReply() {
    if (Reply()[1] == kDataReply && !LastSentWasQuery()) {
        ReleaseLink();
        return;
    }
    ReadBack(true);
}

}  // namespace zp
