#include "panel/pages/title_page.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <string>

#include "panel/widgets/radio_group.h"
#include "panel/widgets/title_picture.h"

namespace zp {

TTitlePage::TTitlePage(TCameraLink& link, QWidget* parent)
    : TPage(link, "TitleSheet", kGroupTitle, parent) {
    auto* GroupBox1 = Named(new QGroupBox("Edit", this), "GroupBox1");
    CName = Named(new QLineEdit(GroupBox1), "CName", "Title");
    CName->setMaxLength(kTitleLength);
    SetTitle = Named(new QPushButton("Set", GroupBox1), "SetTitle", "Set");
    SetTitle->setEnabled(false);
    auto* edit = new QVBoxLayout(GroupBox1);
    edit->addWidget(CName);
    edit->addWidget(SetTitle, 0, Qt::AlignLeft);

    auto* TitleDisp = Choice("title.display", "TitleDisp", 2, this);
    auto* TitlePos = Choice("title.position", "TitlePos", 2, this);

    auto* GroupBox4 = Named(new QGroupBox("Special Character", this), "GroupBox4");
    auto* Image1 = Named(new TTitlePicture(GroupBox4), "Image1");
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
    auto* page = LayOut<QHBoxLayout>(this, {24, 24, 24, 12}, 32);
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
    // The edit is read afresh for every part: the frames carry what it holds
    // when each goes out. A character beyond one byte has no code: a space.
    std::string text;
    for (const QChar c : CName->text()) {
        text += c.unicode() <= 0xFF ? static_cast<char>(c.unicode()) : ' ';
    }
    SendValue("title.text", TValue{part, {}, text});
}

void TTitlePage::SetTitleClick() {
    WritePart(0);
}

void TTitlePage::DecodePart() {
    const auto& r = Reply();
    for (const TDecoded& d : DecodeReply(r.data(), r.size())) {
        if (d.Setting->Kind != TSettingKind::Text) {
            continue;
        }
        if (d.Value.Number == 0) {
            reading_.clear();
        }
        reading_ +=
            QString::fromLatin1(d.Value.Text.data(), static_cast<qsizetype>(d.Value.Text.size()));
        if (d.Value.Number == kTitleParts - 1) {
            CName->setText(reading_);
            // Parts that arrive without a part 0 first must not pile up.
            reading_.clear();
            SetTitle->setEnabled(true);
        }
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
