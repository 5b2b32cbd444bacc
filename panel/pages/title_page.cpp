#include "panel/pages/title_page.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace zp {

TTitlePage::TTitlePage(TCameraLink& link, QWidget* parent)
    : TPage(link, "TitleSheet", kGroupTitle, parent) {
    auto* GroupBox1 = new QGroupBox("Edit", this);
    GroupBox1->setObjectName("GroupBox1");
    CName = new QLineEdit(GroupBox1);
    CName->setObjectName("CName");
    CName->setAccessibleName("Title");
    CName->setMaxLength(kTitleLength);
    SetTitle = new QPushButton("Set", GroupBox1);
    SetTitle->setObjectName("SetTitle");
    SetTitle->setAccessibleName("Set");
    SetTitle->setEnabled(false);
    auto* edit = new QVBoxLayout(GroupBox1);
    edit->addWidget(CName);
    edit->addWidget(SetTitle, 0, Qt::AlignLeft);

    auto* TitleDisp = Choice("title.display", "TitleDisp", 2, this);
    auto* TitlePos = Choice("title.position", "TitlePos", 2, this);

    auto* GroupBox4 = new QGroupBox("Special Character", this);
    GroupBox4->setObjectName("GroupBox4");
    auto* Image1 = new TTitlePicture(GroupBox4);
    Image1->setObjectName("Image1");
    auto* special = new QVBoxLayout(GroupBox4);
    special->addWidget(Image1, 0, Qt::AlignHCenter | Qt::AlignTop);

    auto* left = new QVBoxLayout;
    left->addWidget(GroupBox1);
    left->addWidget(TitleDisp);
    left->addWidget(TitlePos);
    left->addStretch(1);
    auto* right = new QVBoxLayout;
    right->addWidget(GroupBox4);
    right->addStretch(1);
    auto* page = new QHBoxLayout(this);
    page->setContentsMargins(24, 24, 24, 12);
    page->setSpacing(32);
    page->addLayout(left, 3);
    page->addLayout(right, 0);
    page->addStretch(1);

    connect(SetTitle, &QPushButton::clicked, this, &TTitlePage::SetTitleClick);
}

void TTitlePage::Query() {
    QueryPart(0);
}

void TTitlePage::QueryPart(uint8_t part) {
    Send({kQuery, kGroupTitle, kItemTitleText, part});
}

void TTitlePage::QueryDisplay() {
    Send({kQuery, kGroupTitle, kItemTitleDisplay, 0x00});
}

void TTitlePage::WritePart(uint8_t part) {
    if (!CanSend()) {
        return;
    }
    SetTitle->setEnabled(false);
    TCommandFrame& f = Frame();
    f[1] = kSet;
    f[2] = kGroupTitle;
    f[3] = kItemTitleText;
    f[4] = part;
    // The edit is read afresh for every part: the frames carry what it holds
    // when each goes out.
    const QString text = CName->text();
    for (int i = 0; i < kTitlePartLength; ++i) {
        const int q = kTitlePartLength * part + i;
        const uint16_t code = q < text.size() ? TitleCodeOf(text.at(q).unicode()) : kTitleSpace;
        f[static_cast<size_t>(5 + 2 * i)] = static_cast<uint8_t>(code >> 8);
        f[static_cast<size_t>(6 + 2 * i)] = static_cast<uint8_t>(code & 0xFF);
    }
    link_.SendFrame(14);
}

void TTitlePage::SetTitleClick() {
    WritePart(0);
}

void TTitlePage::DecodePart() {
    const auto& r = Reply();
    if (r[4] == 0) {
        reading_.clear();
    }
    for (size_t i = 0; i < static_cast<size_t>(kTitlePartLength); ++i) {
        const auto code = static_cast<uint16_t>(r[5 + 2 * i] << 8 | r[6 + 2 * i]);
        reading_.append(QChar::fromLatin1(TitleCharOf(code)));
    }
    if (r[4] == kTitleParts - 1) {
        CName->setText(reading_);
        // Parts that arrive without a part 0 first must not pile up.
        reading_.clear();
        SetTitle->setEnabled(true);
    }
}

void TTitlePage::HandleReply() {
    if (LastSentWasQuery()) {
        ReplyToQuery();
    } else {
        ReplyToCommand();
    }
}

void TTitlePage::ReplyToQuery() {
    if (!OwnDataReply()) {
        return;
    }
    const auto& r = Reply();
    if (r[3] == kItemTitleText) {
        DecodePart();
        ReleaseLink();
        if (r[4] < kTitleParts - 1) {
            QueryPart(static_cast<uint8_t>(r[4] + 1));
        } else {
            QueryDisplay();
        }
    } else if (r[3] == kItemTitleDisplay) {
        Decode();
        ReleaseLink();
    }
}

void TTitlePage::ReplyToCommand() {
    const auto& r = Reply();
    ReleaseLink();
    if (r[1] != kDataReply || r[2] != kGroupTitle || r[3] != kItemTitleText) {
        return;
    }
    if (r[4] < kTitleParts - 1) {
        WritePart(static_cast<uint8_t>(r[4] + 1));
    } else {
        SetTitle->setEnabled(true);
    }
}

}  // namespace zp
