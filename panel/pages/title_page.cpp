#include "title_page.h"

namespace zp {

TTitlePage::TTitlePage(TCameraLink& link, QWidget* parent)
    : TPage(link, "TitleSheet", "C.ID", 0x10, parent) {}

void TTitlePage::Query() {
    Send({kQuery, CommandGroup(), 0x01, 0x00});
}

}  // namespace zp
