#include "panel/page.h"

#include <vector>

#include "panel/widgets/area_grid.h"
#include "panel/widgets/radio_group.h"

namespace zp {

QStringList LevelItems(const QString& first, int steps) {
    QStringList items{first};
    for (int i = 1; i <= steps; ++i) {
        items << QString("+%1").arg(i);
    }
    items << "MAX";
    return items;
}

QStringList BalanceItems() {
    return {"RED+++", "RED++", "RED+", "RED", "MIDDLE", "BLUE", "BLUE+", "BLUE++", "BLUE+++"};
}

TRadioGroup* NamedGroup(const QString& name, const QString& caption, const QStringList& items,
                        int columns, QWidget* parent) {
    auto* g = new TRadioGroup(caption, items, columns, parent);
    g->setObjectName(name);
    return g;
}

TPage::TPage(TCameraLink& link, const QString& sheetName, const QString& caption, uint8_t group,
             QWidget* parent)
    : QWidget(parent), link_(link), caption_(caption), group_(group) {
    setObjectName(sheetName);
    setAccessibleName(caption);
}

void TPage::Query() {
    Send({kQuery, group_, 0x00, 0x00});
}

void TPage::HandleReply() {
    ReadBack(true);
}

bool TPage::Send(std::initializer_list<uint8_t> payload) {
    if (!CanSend()) {
        return false;
    }
    TCommandFrame& f = Frame();
    size_t i = 1;
    for (uint8_t b : payload) {
        if (i > 15) {
            break;
        }
        f[i++] = b;
    }
    return link_.TrySendFrame(static_cast<int32_t>(i - 1));
}

bool TPage::SendSet(uint8_t item, std::initializer_list<uint8_t> args) {
    if (!CanSend()) {
        return false;
    }
    TCommandFrame& f = Frame();
    f[1] = kSet;
    f[2] = group_;
    f[3] = item;
    size_t i = 4;
    for (uint8_t b : args) {
        if (i > 15) {
            break;
        }
        f[i++] = b;
    }
    return link_.TrySendFrame(static_cast<int32_t>(i - 1));
}

void TPage::SendIndex(uint8_t item, const TRadioGroup* group) {
    if (group->ItemIndex() >= 0) {
        SendSet(item, {static_cast<uint8_t>(group->ItemIndex())});
    }
}

void TPage::SendArea(uint8_t item, const TAreaGrid* grid) {
    const AreaGridMask m = grid->Mask();
    SendSet(item, {m[0], m[1], m[2], m[3], m[4], m[5]});
}

void TPage::ReadBack(bool decode) {
    if (!OwnDataReply()) {
        return;
    }
    if (decode) {
        Decode();
    }
    ReleaseLink();
}

bool TPage::OwnDataReply() {
    const auto& r = Reply();
    if (r[1] != kDataReply) {
        ReleaseLink();
        return false;
    }
    return r[2] == group_;
}

}  // namespace zp
