#include "panel/pages/agc_page.h"

#include "panel/widgets/radio_group.h"

namespace zp {

TAgcPage::TAgcPage(TCameraLink& link, QWidget* parent)
    : TPage(link, "AGCSheet", kGroupAgc, parent) {
    auto* grid = GridOn(this, {48, 24, 24, 12}, 60, 14);
    grid->addWidget(Choice("agc.priority", "ASPriority", 2, this), 0, 0, 1, 2);
    grid->addWidget(Choice("agc.agc_level", "AGCLv", 1, this), 1, 0);
    grid->addWidget(Choice("agc.sens_level", "SENSLv", 1, this), 1, 1);
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
