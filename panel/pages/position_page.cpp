#include "panel/pages/position_page.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <string>

#include "link/func.h"

namespace zp {

namespace {

constexpr uint8_t kGroup = 0x52;
constexpr uint8_t kItemSave = 0x01;
constexpr uint8_t kItemLoad = 0x02;
constexpr uint8_t kItemAlarm = 0x03;
constexpr uint8_t kItemOsd = 0x09;
constexpr uint8_t kReadRecord = 0x01;
constexpr uint8_t kReadCurrent = 0x02;

QStringList LoadItems() {
    QStringList items{"OFF"};
    for (int i = 1; i <= 64; ++i) {
        items << QString::number(i);
    }
    return items;
}

QPushButton* Button(const QString& name, const QString& caption, QWidget* parent) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setAccessibleName(caption);
    return b;
}

// The edit inside a spin edit, named so that it can be found as itself.
QLineEdit* EditOf(TSpinEdit* spin, const QString& name, const QString& accessible) {
    auto* edit = spin->findChild<QLineEdit*>();
    edit->setObjectName(name);
    spin->setAccessibleName(accessible);
    edit->setAccessibleName(accessible);
    return edit;
}

// A four-character zoom or focus field after its caption, in a row.
QLineEdit* ValueField(const QString& name, const QString& caption, QWidget* parent,
                      QHBoxLayout* row) {
    auto* label = new QLabel(caption, parent);
    auto* edit = new QLineEdit(parent);
    label->setBuddy(edit);
    edit->setObjectName(name);
    edit->setAccessibleName(caption);
    edit->setMaxLength(4);
    edit->setToolTip(QObject::tr("Four characters: 0000 ... 9999, or -001 ... -999"));
    const QFontMetrics fm(edit->font());
    edit->setFixedWidth(fm.horizontalAdvance("-0000") + 12);
    row->addWidget(label);
    row->addWidget(edit);
    return edit;
}

}  // namespace

TPositionPage::TPositionPage(TCameraLink& link, QWidget* parent)
    : TPage(link, "PosSheet", "Pos", kGroup, parent) {
    PosLoad = NamedGroup("PosLoad", "Position Load", LoadItems(), 5, this);

    auto* alarmBox = new QGroupBox("Alarm Position", this);
    AlSaveUD = new TSpinEdit(0, 100, 1, alarmBox);
    AlSaveUD->setObjectName("AlSaveUD");
    AlmPosEdit = EditOf(AlSaveUD, "AlmPosEdit", "Alarm Position");
    AlSave = Button("AlSave", "Send", alarmBox);
    auto* alarm = new QHBoxLayout(alarmBox);
    alarm->setContentsMargins(6, 2, 6, 4);
    alarm->addWidget(AlSaveUD);
    alarm->addWidget(AlSave);
    alarm->addStretch(1);

    OSDx = new TCheckBox("OSD", this);
    OSDx->setObjectName("OSDx");
    OSDx->setAccessibleName("OSD");

    PosSaveArea = new QGroupBox("Position Save", this);
    PosSaveArea->setObjectName("PosSaveArea");
    PosSaveUD = new TSpinEdit(0, 100, 1, PosSaveArea);
    PosSaveUD->setObjectName("PosSaveUD");
    PosSaveEdit = EditOf(PosSaveUD, "PosSaveEdit", "Position Save");
    PosReadx = Button("PosReadx", "Read", PosSaveArea);
    PosNowRead = Button("PosNowRead", "Current Read", PosSaveArea);
    // Captions beside the fields rather than boxes round them: the page must
    // fit the window's 640 x 480.
    auto* valueRow = new QHBoxLayout;
    valueRow->setSpacing(6);
    PosZoom = ValueField("PosZoom", "Zoom", PosSaveArea, valueRow);
    valueRow->addSpacing(18);
    PosFocus = ValueField("PosFocus", "Focus", PosSaveArea, valueRow);
    valueRow->addStretch(1);
    PosALC = NamedGroup("PosALC", "ALC", {"AUTO", "FIX"}, 1, PosSaveArea);
    PosAES = NamedGroup("PosAES", "AES", {"AUTO", "FIX"}, 1, PosSaveArea);
    PosBLC = NamedGroup("PosBLC", "BLC", {"OFF", "ON"}, 1, PosSaveArea);
    PosWB = NamedGroup("PosWB", "W.B.", {"ATW", "AWB"}, 1, PosSaveArea);
    PosAGCLv = NamedGroup("PosAGCLv", "AGC Lv", LevelItems("BASE", 7), 1, PosSaveArea);
    PosALCLv = NamedGroup("PosALCLv", "ALC Lv", LevelItems("MIN", 7), 1, PosSaveArea);
    PosWBLv = NamedGroup("PosWBLv", "WB Lv", BalanceItems(), 1, PosSaveArea);
    PosSave = Button("PosSave", "Save", PosSaveArea);

    auto* numberRow = new QHBoxLayout;
    numberRow->setSpacing(6);
    numberRow->addWidget(PosSaveUD);
    numberRow->addWidget(PosReadx);
    numberRow->addWidget(PosNowRead);
    numberRow->addStretch(1);

    auto* save = new QGridLayout(PosSaveArea);
    save->setContentsMargins(6, 4, 6, 6);
    save->setHorizontalSpacing(6);
    save->setVerticalSpacing(4);
    save->addLayout(numberRow, 0, 0, 1, 4);
    save->addLayout(valueRow, 1, 0, 1, 4);
    save->addWidget(PosALC, 2, 0);
    save->addWidget(PosAES, 2, 1);
    save->addWidget(PosBLC, 2, 2);
    save->addWidget(PosWB, 2, 3);
    auto* levels = new QHBoxLayout;
    levels->addWidget(PosAGCLv);
    levels->addWidget(PosALCLv);
    levels->addWidget(PosWBLv);
    save->addLayout(levels, 3, 0, 1, 4);
    save->addWidget(PosSave, 4, 3);

    auto* left = new QVBoxLayout;
    left->addWidget(PosLoad);
    left->addWidget(alarmBox);
    left->addWidget(OSDx);
    left->addStretch(1);

    auto* page = new QHBoxLayout(this);
    page->setContentsMargins(8, 6, 8, 6);
    page->setSpacing(8);
    page->addLayout(left);
    page->addWidget(PosSaveArea, 0, Qt::AlignTop);
    page->addStretch(1);

    connect(PosLoad, &TRadioGroup::Click, this, &TPositionPage::PosLoadClick);
    connect(AlSave, &QPushButton::clicked, this, &TPositionPage::AlSaveClick);
    connect(PosReadx, &QPushButton::clicked, this, &TPositionPage::PosReadxClick);
    connect(PosNowRead, &QPushButton::clicked, this, &TPositionPage::PosNowReadClick);
    connect(PosSave, &QPushButton::clicked, this, &TPositionPage::PosSaveClick);
    connect(PosALC, &TRadioGroup::Click, this, &TPositionPage::PosALCClick);
    connect(PosAES, &TRadioGroup::Click, this, &TPositionPage::PosAESClick);
    connect(OSDx, &TCheckBox::Click, this, &TPositionPage::OSDxClick);
    for (TRadioGroup* g : RecordGroups()) {
        connect(g, &TRadioGroup::Click, this, &TPositionPage::UpdateSaveEnabled);
    }
    for (QLineEdit* e : {PosZoom, PosFocus}) {
        connect(e, &QLineEdit::textChanged, this, &TPositionPage::UpdateSaveEnabled);
    }
    UpdateSaveEnabled();
}

std::array<TRadioGroup*, 7> TPositionPage::RecordGroups() const {
    return {PosALC, PosAES, PosBLC, PosWB, PosAGCLv, PosALCLv, PosWBLv};
}

void TPositionPage::PosLoadClick() {
    // "OFF" recalls nothing.
    const int n = PosLoad->ItemIndex();
    if (n >= 1) {
        SendSet(kItemLoad, {static_cast<uint8_t>(n)});
    }
}

void TPositionPage::AlSaveClick() {
    SendSet(kItemAlarm, {static_cast<uint8_t>(AlSaveUD->Value())});
}

void TPositionPage::PosReadxClick() {
    Send({kQuery, kGroup, kReadRecord, static_cast<uint8_t>(PosSaveUD->Value())});
}

void TPositionPage::PosNowReadClick() {
    Send({kQuery, kGroup, kReadCurrent, static_cast<uint8_t>(PosSaveUD->Value())});
}

void TPositionPage::OSDxClick() {
    SendSet(kItemOsd, {static_cast<uint8_t>(OSDx->Checked() ? 1 : 0)});
}

void TPositionPage::PosSaveClick() {
    if (!CanSend()) {
        return;
    }
    // A group without a choice would put -1, all bits set, over its neighbours'
    // fields; the button is disabled then, and this holds for a direct call.
    for (TRadioGroup* g : RecordGroups()) {
        if (g->ItemIndex() < 0) {
            return;
        }
    }
    // A text that is not a number would be saved as 0 over the stored place.
    const std::string zoom = PosZoom->text().toStdString();
    const std::string focus = PosFocus->text().toStdString();
    if (!IsSigned4(zoom) || !IsSigned4(focus)) {
        return;
    }
    const auto z = static_cast<uint32_t>(ParseSigned4(zoom));
    const auto f = static_cast<uint32_t>(ParseSigned4(focus));
    const auto index = [](TRadioGroup* g) { return static_cast<unsigned>(g->ItemIndex()); };
    const auto b9 = static_cast<uint8_t>(index(PosALC) | index(PosAES) << 1 | index(PosBLC) << 2 |
                                         index(PosWB) << 3 | index(PosAGCLv) << 4);
    const auto b10 = static_cast<uint8_t>(index(PosALCLv) | index(PosWBLv) << 4);
    SendSet(kItemSave, {static_cast<uint8_t>(PosSaveUD->Value()), static_cast<uint8_t>(z >> 8),
                        static_cast<uint8_t>(z), static_cast<uint8_t>(f >> 8),
                        static_cast<uint8_t>(f), b9, b10});
}

void TPositionPage::PosALCClick() {
    if (PosALC->ItemIndex() == 0) {
        PosAES->SetItemIndex(1);
    }
}

void TPositionPage::PosAESClick() {
    if (PosAES->ItemIndex() == 0) {
        PosALC->SetItemIndex(1);
    }
}

void TPositionPage::UpdateSaveEnabled() {
    QStringList missing;
    for (TRadioGroup* g : RecordGroups()) {
        if (g->ItemIndex() < 0) {
            missing << g->Caption();
        }
    }
    QStringList notNumbers;
    for (const auto& [edit, caption] : {std::pair{PosZoom, "Zoom"}, std::pair{PosFocus, "Focus"}}) {
        if (!IsSigned4(edit->text().toStdString())) {
            notNumbers << caption;
        }
    }
    QStringList why;
    if (!missing.isEmpty()) {
        why << tr("Save needs a choice in every group of the record; none yet in: %1.")
                   .arg(missing.join(", "));
    }
    if (!notNumbers.isEmpty()) {
        why << tr("%1 must be a four-character number (0000 ... 9999, or -001 ... -999).")
                   .arg(notNumbers.join(" and "));
    }
    if (!why.isEmpty()) {
        why << tr("\"Read\" or \"Current Read\" fills them from the camera.");
    }
    PosSave->setEnabled(why.isEmpty());
    PosSave->setToolTip(why.join(" "));
}

void TPositionPage::HandleReply() {
    if (!OwnDataReply()) {
        return;
    }
    if (LastSentWasQuery() && Reply()[3] != 0) {
        DecodeRecord();
    } else {
        DecodeGeneralState();
    }
    ReleaseLink();
}

void TPositionPage::DecodeGeneralState() {
    const auto& r = Reply();
    PosLoad->SetItemIndex(r[5]);
    PosSaveUD->SetValue(r[6]);
    AlSaveUD->SetValue(r[7]);
}

void TPositionPage::DecodeRecord() {
    const auto& r = Reply();
    const auto signed16 = [&](size_t hi) {
        return static_cast<int16_t>(static_cast<uint16_t>(r[hi] << 8 | r[hi + 1]));
    };
    PosZoom->setText(QString::fromStdString(FormatSigned4(signed16(5))));
    PosFocus->setText(QString::fromStdString(FormatSigned4(signed16(7))));
    // ALC before AES: with both on "AUTO" the interlock leaves ALC on "FIX".
    PosALC->SetItemIndex(r[9] & 1);
    PosAES->SetItemIndex((r[9] >> 1) & 1);
    PosBLC->SetItemIndex((r[9] >> 2) & 1);
    PosWB->SetItemIndex((r[9] >> 3) & 1);
    PosAGCLv->SetItemIndex(r[9] >> 4);
    PosALCLv->SetItemIndex(r[10] & 0x0F);
    PosWBLv->SetItemIndex(r[10] >> 4);
}

}  // namespace zp
