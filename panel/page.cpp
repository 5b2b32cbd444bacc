#include "panel/page.h"

#include <QLineEdit>
#include <QMetaMethod>
#include <QStringList>
#include <algorithm>

#include "link/func.h"
#include "panel/qt_seams.h"
#include "panel/widgets/area_grid.h"
#include "panel/widgets/check_box.h"
#include "panel/widgets/radio_group.h"
#include "panel/widgets/spin_edit.h"
#include "panel/widgets/track_bar.h"

namespace zp {

namespace {

// The pages name their settings in code: a name the catalogue lacks is a
// programming error, found by any test that builds the window.
const TSetting& SettingOf(std::string_view id) {
    const TSetting* s = FindSetting(id);
    if (s == nullptr) {
        qFatal("no setting %.*s in the catalogue", static_cast<int>(id.size()), id.data());
    }
    return *s;
}

QString Text(std::string_view t) {
    return QString::fromUtf8(t.data(), static_cast<qsizetype>(t.size()));
}

void Show(QWidget* control, const TValue& v) {
    if (auto* g = qobject_cast<TRadioGroup*>(control)) {
        g->SetItemIndex(v.Number);
    } else if (auto* c = qobject_cast<TCheckBox*>(control)) {
        c->SetChecked(v.Number != 0);
    } else if (auto* a = qobject_cast<TAreaGrid*>(control)) {
        a->SetMask(v.Area);
    } else if (auto* n = qobject_cast<TSpinEdit*>(control)) {
        n->SetValue(v.Number);
    } else if (auto* t = qobject_cast<TTrackBar*>(control)) {
        t->SetPosition(ByteToBar(static_cast<uint8_t>(v.Number), t->Min(), t->Max()));
    } else if (auto* e = qobject_cast<QLineEdit*>(control)) {
        e->setText(QString::fromStdString(FormatSigned4(static_cast<int16_t>(v.Number))));
    }
}

}  // namespace

uint8_t BarToByte(int position, int min, int max) {
    const long span = static_cast<long>(max) - min;
    if (span <= 0) {
        return 0;
    }
    const long p = std::clamp<long>(position, min, max) - min;
    return static_cast<uint8_t>((p * 255 * 2 + span) / (span * 2));
}

int ByteToBar(uint8_t b, int min, int max) {
    const long span = static_cast<long>(max) - min;
    if (span <= 0) {
        return min;
    }
    return static_cast<int>(min + (b * span * 2 + 255) / (255 * 2));
}

QGridLayout* GridOn(QWidget* on, const QMargins& margins, int hSpacing, int vSpacing) {
    auto* grid = new QGridLayout(on);
    grid->setContentsMargins(margins);
    grid->setHorizontalSpacing(hSpacing);
    grid->setVerticalSpacing(vSpacing);
    return grid;
}

TPage::TPage(TCameraLink& link, const QString& sheetName, uint8_t group, QWidget* parent)
    : QWidget(parent), link_(link), group_(group) {
    const TPageDef* page = PageOfGroup(group);
    if (page == nullptr) {
        qFatal("no page of group %02X in the catalogue", group);
    }
    caption_ = Text(page->Caption);
    query_ = page->Query;
    setObjectName(sheetName);
    setAccessibleName(caption_);
}

void TPage::Query() {
    Send({query_.begin(), query_.end()});
}

void TPage::HandleReply() {
    ReadBack(true);
}

void TPage::Decode() {
    const auto& r = Reply();
    const std::vector<TDecoded> decoded = DecodeReply(r.data(), r.size(), Frame()[1]);
    for (const TDecoded& d : decoded) {
        for (const auto& [setting, control] : bound_) {
            if (setting == d.Setting) {
                Show(control, d.Value);
            }
        }
    }
    // After every value is shown, as the page's own rules ran after the fill.
    for (const TDecoded& d : decoded) {
        for (const TEnableRule& rule : enableRules_) {
            if (rule.setting == d.Setting) {
                const bool on = d.Value.Number != 0;
                for (QWidget* w : rule.whenOn) {
                    w->setEnabled(on);
                }
                for (QWidget* w : rule.whenOff) {
                    w->setEnabled(!on);
                }
            }
        }
    }
}

TRadioGroup* TPage::ChoiceGroup(std::string_view settingId, const char* objectName, int columns,
                                QWidget* parent) {
    const TSetting& s = SettingOf(settingId);
    QStringList items;
    for (std::string_view item : s.Items) {
        items << Text(item);
    }
    auto* g = new TRadioGroup(Text(s.Caption), items, columns, parent);
    g->setObjectName(objectName);
    return g;
}

TRadioGroup* TPage::Choice(std::string_view settingId, const char* objectName, int columns,
                           QWidget* parent) {
    TRadioGroup* g = ChoiceGroup(settingId, objectName, columns, parent);
    Bind(settingId, g);
    ConnectHandler(g, QByteArray(objectName) + "Click");
    return g;
}

void TPage::Choices(QGridLayout* grid, std::initializer_list<TCell> cells) {
    for (const TCell& c : cells) {
        grid->addWidget(Choice(c.settingId, c.objectName, c.columns, this), c.row, c.column,
                        c.rowSpan, c.columnSpan);
    }
}

TCheckBox* TPage::Switch(std::string_view settingId, const char* objectName, QWidget* parent) {
    const TSetting* s = &SettingOf(settingId);
    auto* c = new TCheckBox(Text(s->Caption), parent);
    c->setObjectName(objectName);
    Bind(settingId, c);
    ConnectHandler(c, QByteArray(objectName) + "Click");
    return c;
}

TAreaGrid* TPage::Area(std::string_view settingId, const char* objectName, const QString& boxPrefix,
                       const QString& label, QWidget* parent) {
    auto* grid = new TAreaGrid(boxPrefix, label, parent);
    grid->setObjectName(objectName);
    Bind(settingId, grid);
    ConnectHandler(grid, boxPrefix.toLatin1() + "01Click");
    return grid;
}

void TPage::ConnectHandler(QObject* control, const QByteArray& handler) {
    // Called from the page's constructor, so the meta-object is the page's own.
    const int slot = metaObject()->indexOfSlot(handler + "()");
    const int signal = control->metaObject()->indexOfSignal(
        qobject_cast<TAreaGrid*>(control) != nullptr ? "Click(int)" : "Click()");
    if (slot < 0 || signal < 0) {
        qFatal("page %s has no handler %s", metaObject()->className(), handler.constData());
    }
    connect(control, control->metaObject()->method(signal), this, metaObject()->method(slot));
}

void TPage::SendBound(std::string_view settingId) {
    const TSetting* s = &SettingOf(settingId);
    const auto bound =
        std::find_if(bound_.begin(), bound_.end(), [s](const auto& b) { return b.first == s; });
    if (bound == bound_.end()) {
        return;
    }
    QWidget* control = bound->second;
    if (auto* g = qobject_cast<TRadioGroup*>(control)) {
        // Nothing is chosen only when code cleared the group.
        if (g->ItemIndex() >= 0) {
            SendEncoded(*s, TValue{g->ItemIndex(), {}, {}});
        }
    } else if (auto* c = qobject_cast<TCheckBox*>(control)) {
        SendEncoded(*s, TValue{c->Checked() ? 1 : 0, {}, {}});
    } else if (auto* a = qobject_cast<TAreaGrid*>(control)) {
        // The whole grid, read when a box changes.
        SendEncoded(*s, TValue{0, a->Mask(), {}});
    }
}

void TPage::Bind(std::string_view settingId, QWidget* control) {
    bound_.emplace_back(&SettingOf(settingId), control);
}

void TPage::EnableWith(std::string_view settingId, std::vector<QWidget*> whenOn,
                       std::vector<QWidget*> whenOff) {
    enableRules_.push_back({&SettingOf(settingId), std::move(whenOn), std::move(whenOff)});
}

const TSetting& TPage::Setting(std::string_view settingId) {
    return SettingOf(settingId);
}

bool TPage::SendValue(std::string_view settingId, int32_t value) {
    return SendEncoded(SettingOf(settingId), TValue{value, {}, {}});
}

bool TPage::SendValue(std::string_view settingId, const TValue& value) {
    return SendEncoded(SettingOf(settingId), value);
}

std::vector<uint8_t> TPage::SetCommand(std::string_view settingId, int32_t value) {
    return EncodeSet(SettingOf(settingId), TValue{value, {}, {}});
}

bool TPage::SendEncoded(const TSetting& s, const TValue& v) {
    const std::vector<uint8_t> payload = EncodeSet(s, v);
    return !payload.empty() && Send(payload);
}

bool TPage::Send(const std::vector<uint8_t>& payload) {
    return CanSend() && SendFrom(1, payload);
}

bool TPage::SendSet(uint8_t item, const std::vector<uint8_t>& args) {
    if (!CanSend()) {
        return false;
    }
    TCommandFrame& f = Frame();
    f[1] = kSet;
    f[2] = group_;
    f[3] = item;
    return SendFrom(4, args);
}

bool TPage::SendFrom(size_t at, const std::vector<uint8_t>& bytes) {
    // Only an assistive tool's action reaches a page during a pause (input
    // waits for its end): the link is taken, as it would be after a sleep.
    if (Pausing()) {
        return false;
    }
    TCommandFrame& f = Frame();
    for (uint8_t b : bytes) {
        if (at > 15) {
            break;
        }
        f[at++] = b;
    }
    return link_.TrySendFrame(static_cast<int32_t>(at - 1));
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
