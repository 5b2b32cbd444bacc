#include "panel/pages/agc_page.h"

#include <QGridLayout>

namespace zp {

TAgcPage::TAgcPage(TCameraLink& link, QWidget* parent)
    : TPage(link, "AGCSheet", kGroupAgc, parent) {
    auto* ASPriority = Choice("agc.priority", "ASPriority", 2, this);
    auto* AGCLv = Choice("agc.agc_level", "AGCLv", 1, this);
    auto* SENSLv = Choice("agc.sens_level", "SENSLv", 1, this);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(48, 24, 24, 12);
    grid->setHorizontalSpacing(60);
    grid->setVerticalSpacing(14);
    grid->addWidget(ASPriority, 0, 0, 1, 2);
    grid->addWidget(AGCLv, 1, 0);
    grid->addWidget(SENSLv, 1, 1);
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
