#include "panel/pages/position_page.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <array>
#include <string>

#include "link/func.h"
#include "panel/widgets/check_box.h"

namespace zp {

namespace {

QPushButton* Button(const QString& name, const QString& caption, QWidget* parent) {
    return Named(new QPushButton(caption, parent), name, caption);
}

// Names the edit inside a spin edit, so that it can be found as itself.
void NameEdit(TSpinEdit* spin, const QString& name, const QString& accessible) {
    auto* edit = spin->findChild<QLineEdit*>();
    edit->setObjectName(name);
    spin->setAccessibleName(accessible);
    edit->setAccessibleName(accessible);
}

// A four-character zoom or focus field after its caption, in a row.
QLineEdit* ValueField(const QString& name, const QString& caption, QWidget* parent,
                      QHBoxLayout* row) {
    auto* label = new QLabel(caption, parent);
    auto* edit = Named(new QLineEdit(parent), name, caption);
    label->setBuddy(edit);
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
    : TPage(link, "PosSheet", kGroupPosition, parent) {
    auto* PosLoad = Choice("position.load", "PosLoad", 5, this);

    auto* alarmBox = new QGroupBox("Alarm Position", this);
    AlSaveUD = Named(new TSpinEdit(0, 100, 1, alarmBox), "AlSaveUD");
    NameEdit(AlSaveUD, "AlmPosEdit", "Alarm Position");
    Bind("position.alarm", AlSaveUD);
    auto* AlSave = Button("AlSave", "Send", alarmBox);
    auto* alarm = new QHBoxLayout(alarmBox);
    alarm->setContentsMargins(6, 2, 6, 4);
    alarm->addWidget(AlSaveUD);
    alarm->addWidget(AlSave);
    alarm->addStretch(1);

    auto* OSDx = Switch("position.osd", "OSDx", this);
    OSDx->setAccessibleName("OSD");

    auto* PosSaveArea = Named(new QGroupBox("Position Save", this), "PosSaveArea");
    PosSaveUD = Named(new TSpinEdit(0, 100, 1, PosSaveArea), "PosSaveUD");
    NameEdit(PosSaveUD, "PosSaveEdit", "Position Save");
    Bind("position.save_number", PosSaveUD);
    auto* PosReadx = Button("PosReadx", "Read", PosSaveArea);
    auto* PosNowRead = Button("PosNowRead", "Current Read", PosSaveArea);
    // Captions beside the fields rather than boxes round them: the page must
    // fit the window's 640 x 480.
    auto* valueRow = new QHBoxLayout;
    valueRow->setSpacing(6);
    values_.emplace_back("position.zoom", ValueField("PosZoom", "Zoom", PosSaveArea, valueRow));
    valueRow->addSpacing(18);
    values_.emplace_back("position.focus", ValueField("PosFocus", "Focus", PosSaveArea, valueRow));
    valueRow->addStretch(1);
    // The record's fields are read back and saved together, never sent alone.
    const auto field = [this, PosSaveArea](const char* id, const char* name) {
        TRadioGroup* g = ChoiceGroup(id, name, 1, PosSaveArea);
        Bind(id, g);
        record_.emplace_back(id, g);
        return g;
    };
    PosALC = field("position.alc", "PosALC");
    PosAES = field("position.aes", "PosAES");
    auto* PosBLC = field("position.blc", "PosBLC");
    auto* PosWB = field("position.wb", "PosWB");
    auto* PosAGCLv = field("position.agc_level", "PosAGCLv");
    auto* PosALCLv = field("position.alc_level", "PosALCLv");
    auto* PosWBLv = field("position.wb_level", "PosWBLv");
    PosSave = Button("PosSave", "Save", PosSaveArea);

    auto* numberRow = new QHBoxLayout;
    numberRow->setSpacing(6);
    numberRow->addWidget(PosSaveUD);
    numberRow->addWidget(PosReadx);
    numberRow->addWidget(PosNowRead);
    numberRow->addStretch(1);

    auto* save = GridOn(PosSaveArea, {6, 4, 6, 6}, 6, 4);
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

    auto* page = LayOut<QHBoxLayout>(this, {8, 6, 8, 6}, 8);
    page->addLayout(left);
    page->addWidget(PosSaveArea, 0, Qt::AlignTop);
    page->addStretch(1);

    connect(AlSave, &QPushButton::clicked, this, &TPositionPage::AlSaveClick);
    connect(PosReadx, &QPushButton::clicked, this, &TPositionPage::PosReadxClick);
    connect(PosNowRead, &QPushButton::clicked, this, &TPositionPage::PosNowReadClick);
    connect(PosSave, &QPushButton::clicked, this, &TPositionPage::PosSaveClick);
    connect(PosALC, &TRadioGroup::Click, this, &TPositionPage::PosALCClick);
    connect(PosAES, &TRadioGroup::Click, this, &TPositionPage::PosAESClick);
    for (const auto& [id, g] : record_) {
        connect(g, &TRadioGroup::Click, this, &TPositionPage::UpdateSaveEnabled);
    }
    for (const auto& [id, edit] : values_) {
        Bind(id, edit);
        connect(edit, &QLineEdit::textChanged, this, &TPositionPage::UpdateSaveEnabled);
    }
    UpdateSaveEnabled();
}

void TPositionPage::AlSaveClick() {
    SendValue("position.alarm", AlSaveUD->Value());
}

void TPositionPage::PosReadxClick() {
    Send({kQuery, kGroupPosition, kItemReadRecord, static_cast<uint8_t>(PosSaveUD->Value())});
}

void TPositionPage::PosNowReadClick() {
    Send({kQuery, kGroupPosition, kItemReadCurrent, static_cast<uint8_t>(PosSaveUD->Value())});
}

void TPositionPage::PosSaveClick() {
    std::array<uint8_t, 6> record{};
    // A group without a choice would put -1, all bits set, over its neighbours'
    // fields; the button is disabled then, and this holds for a direct call.
    for (const auto& [id, g] : record_) {
        if (g->ItemIndex() < 0) {
            return;
        }
        PackRecordField(Setting(id), TValue{g->ItemIndex(), {}, {}}, record);
    }
    // A text that is not a number would be saved as 0 over the stored place.
    for (const auto& [id, edit] : values_) {
        const std::string text = edit->text().toStdString();
        if (!IsSigned4(text)) {
            return;
        }
        PackRecordField(Setting(id), TValue{ParseSigned4(text), {}, {}}, record);
    }
    SendValue("position.save", TValue{PosSaveUD->Value(), record, {}});
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
    for (const auto& [id, g] : record_) {
        if (g->ItemIndex() < 0) {
            missing << g->Caption();
        }
    }
    QStringList notNumbers;
    for (const auto& [id, edit] : values_) {
        if (!IsSigned4(edit->text().toStdString())) {
            notNumbers << QString::fromUtf8(Setting(id).Caption.data(),
                                            static_cast<qsizetype>(Setting(id).Caption.size()));
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

}  // namespace zp
