#include "page.h"

#include <vector>

namespace zp {

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
    link_.SendFrame(static_cast<int32_t>(i - 1));
    return true;
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
    link_.SendFrame(static_cast<int32_t>(i - 1));
    return true;
}

void TPage::ReadBack(bool decode) {
    const auto& r = Reply();
    if (r[1] != kDataReply) {
        ReleaseLink();
        return;
    }
    if (r[2] != group_) {
        return;
    }
    if (decode) {
        Decode();
    }
    ReleaseLink();
}

}  // namespace zp
