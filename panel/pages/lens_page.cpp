#include "panel/pages/lens_page.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QTabWidget>
#include <QVBoxLayout>

#include "link/func.h"
#include "panel/qt_seams.h"

namespace zp {

namespace {

constexpr int kZoomMin = 0;
constexpr int kZoomMax = 1954;
constexpr int kZoomTicks = 200;
constexpr int kFocusMin = -206;
constexpr int kFocusMax = 250;
constexpr int kFocusTicks = 50;

constexpr int kStepLength = 4;

QPushButton* StepButton(const QString& caption, const QString& name, const QString& what,
                        QWidget* parent) {
    auto* b = Named(new QPushButton(caption, parent), name, caption);
    b->setAccessibleDescription(what);
    b->setToolTip(what);
    return b;
}

QLineEdit* StepEdit(const QString& name, const QString& what, QWidget* parent) {
    auto* e = Named(new QLineEdit(parent), name, what);
    e->setReadOnly(true);
    e->setMaxLength(kStepLength);
    e->setToolTip(what);
    e->setAlignment(Qt::AlignRight);
    e->setMaximumWidth(e->fontMetrics().horizontalAdvance("-0000") + 16);
    return e;
}

TMotionButton* MotionSW(const QString& caption, QWidget* parent) {
    return Named(new TMotionButton(caption, parent), caption + "SW");
}

// One motor's box, zoom or focus, in tab order: the two motion buttons, the
// step edit with its buttons, the bar; the page adds its switches below.
struct TMotorBox {
    QGroupBox* box;
    TMotionButton* a;
    TMotionButton* b;
    QLineEdit* step;
    QPushButton* dn;
    QPushButton* up;
    TTrackBar* bar;
    QVBoxLayout* column;
};

TMotorBox MotorBox(const QString& motor, const QString& a, const QString& b, int min, int max,
                   int ticks, QWidget* parent) {
    TMotorBox m{};
    m.box = Named(new QGroupBox(motor, parent), motor + "Box");
    m.a = MotionSW(a, m.box);
    m.b = MotionSW(b, m.box);
    m.step = StepEdit(motor + "Step", motor + " step", m.box);
    m.dn = StepButton("-1", motor + "DN", motor + " step down", m.box);
    m.up = StepButton("+1", motor + "UP", motor + " step up", m.box);
    m.bar = Named(new TTrackBar(min, max, ticks, m.box), motor + "Bar", motor + " position");
    m.bar->setToolTip(motor + " position");

    auto* motion = new QHBoxLayout;
    motion->addWidget(m.a);
    motion->addWidget(m.b);
    auto* steps = new QHBoxLayout;
    steps->addWidget(m.step);
    steps->addWidget(m.dn);
    steps->addWidget(m.up);
    steps->addStretch(1);
    m.column = new QVBoxLayout(m.box);
    m.column->setSpacing(10);
    m.column->addLayout(motion);
    m.column->addLayout(steps);
    m.column->addWidget(m.bar);
    return m;
}

}  // namespace

std::string SteppedText(const std::string& text, int delta) {
    const int32_t v = ParseSigned4(text) + delta;
    return FormatSigned4(static_cast<int16_t>(static_cast<uint16_t>(v & 0xFFFF)));
}

TLensPage::TLensPage(TCameraLink& link, QWidget* parent)
    : TPage(link, "LensSheet", kGroupLens, parent), releasePause_(PauseMs) {
    const TMotorBox zoom = MotorBox("Zoom", "Wide", "Tele", kZoomMin, kZoomMax, kZoomTicks, this);
    ZoomStep = zoom.step;
    ZoomBar = zoom.bar;
    Bind("lens.zoom_step", ZoomStep);
    Bind("lens.zoom_position", ZoomBar);
    zoom.column->addWidget(Switch("lens.digital_zoom", "DZoom", zoom.box));
    zoom.column->addStretch(1);

    const TMotorBox focus =
        MotorBox("Focus", "Far", "Near", kFocusMin, kFocusMax, kFocusTicks, this);
    FocusStep = focus.step;
    FocusBar = focus.bar;
    AFocus = Switch("lens.auto_focus", "AFocus", focus.box);
    AFTrack = Switch("lens.af_tracking", "AFTrack", focus.box);
    Bind("lens.focus_step", FocusStep);
    Bind("lens.focus_position", FocusBar);
    OnePushAF = Named(new TCheckBox("One Push AF", focus.box), "OnePushAF");
    focus.column->addWidget(AFocus);
    focus.column->addWidget(AFTrack);
    focus.column->addWidget(OnePushAF);
    focus.column->addStretch(1);

    motionButtons_ = {zoom.a, zoom.b, focus.a, focus.b};
    const std::pair<TMotion, const char*> motions[] = {
        {TMotion::Wide, "Zoom toward wide"},
        {TMotion::Tele, "Zoom toward tele"},
        {TMotion::Far, "Focus farther"},
        {TMotion::Near, "Focus nearer"},
    };
    for (const auto& [m, what] : motions) {
        MotionButton(m)->setToolTip(QString("%1 while held (%2)").arg(what, MotionKeyName(m)));
    }
    new TLensKeys(this);

    // The boxes sit at the top, as on the other pages, side by side and of
    // one height.
    auto* boxes = new QHBoxLayout;
    boxes->setSpacing(16);
    boxes->addWidget(zoom.box, 1);
    boxes->addWidget(focus.box, 1);
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(16, 16, 16, 8);
    page->addLayout(boxes);
    page->addStretch(1);

    connect(zoom.a, &TMotionButton::MouseDown, this, &TLensPage::WideSWMouseDown);
    connect(zoom.a, &TMotionButton::MouseUp, this, &TLensPage::WideSWMouseUp);
    connect(zoom.b, &TMotionButton::MouseDown, this, &TLensPage::TeleSWMouseDown);
    connect(zoom.b, &TMotionButton::MouseUp, this, &TLensPage::TeleSWMouseUp);
    connect(focus.a, &TMotionButton::MouseDown, this, &TLensPage::FarSWMouseDown);
    connect(focus.a, &TMotionButton::MouseUp, this, &TLensPage::FarSWMouseUp);
    connect(focus.b, &TMotionButton::MouseDown, this, &TLensPage::NearSWMouseDown);
    connect(focus.b, &TMotionButton::MouseUp, this, &TLensPage::NearSWMouseUp);
    connect(ZoomStep, &QLineEdit::textChanged, this, &TLensPage::ZoomStepChange);
    connect(FocusStep, &QLineEdit::textChanged, this, &TLensPage::FocusStepChange);
    connect(zoom.dn, &QPushButton::clicked, this, &TLensPage::ZoomDNClick);
    connect(zoom.up, &QPushButton::clicked, this, &TLensPage::ZoomUPClick);
    connect(focus.dn, &QPushButton::clicked, this, &TLensPage::FocusDNClick);
    connect(focus.up, &QPushButton::clicked, this, &TLensPage::FocusUPClick);
    connect(ZoomBar, &TTrackBar::Change, this, &TLensPage::ZoomBarChange);
    connect(FocusBar, &TTrackBar::Change, this, &TLensPage::FocusBarChange);
    connect(OnePushAF, &TCheckBox::Click, this, &TLensPage::OnePushAFClick);
}

TMotionButton* TLensPage::MotionButton(TMotion m) const {
    return motionButtons_[static_cast<size_t>(m)];
}

bool TLensPage::Shown() const {
    for (QWidget* w = parentWidget(); w != nullptr; w = w->parentWidget()) {
        if (auto* tabs = qobject_cast<QTabWidget*>(w)) {
            return tabs->currentWidget() == this;
        }
    }
    return true;
}

// The keys start a motion from another page too. That page would not take
// the lens reply and the link would stay busy, so the start then goes as a
// stop does, ended by its own reply; but only when nothing else is on its
// way, since a start must not wait.
void TLensPage::Start(std::string_view motion) {
    if (Shown()) {
        SendValue(motion, 0);
    } else if (link_.Idle()) {
        link_.SendFollowUp(SetCommand(motion));
    }
}

// A stop must reach the camera even when the press is still being answered,
// or the lens runs on to the end of its range: it waits for the link.
void TLensPage::Release(std::string_view stop, bool onePushFollows) {
    // A hold ended by the window system (the window lost the focus) while
    // the link pauses: the stop follows the pause, as the events would.
    if (AfterPauseIfPausing(this, [stop, onePushFollows](TLensPage* page) {
            page->Release(stop, onePushFollows);
        })) {
        return;
    }
    releasePause_(kSendPauseMs);
    link_.SendFollowUp(SetCommand(stop));
    if (onePushFollows && OnePushAF->Checked()) {
        link_.SendFollowUp(SetCommand("lens.one_push"));
    }
}

void TLensPage::StepBy(QLineEdit* edit, int delta) {
    edit->setText(QString::fromStdString(SteppedText(edit->text().toStdString(), delta)));
}

void TLensPage::StepSend(QLineEdit* edit, std::string_view step, int32_t& last) {
    if (!CanSend()) {
        return;
    }
    const std::string text = edit->text().toStdString();
    if (text.size() != kStepLength) {
        return;
    }
    const int32_t v = ParseSigned4(text);
    if (v == last) {
        return;
    }
    last = v;
    SendValue(step, v);
}

void TLensPage::SendBar(std::string_view position, const TTrackBar* bar) {
    SendValue(position, BarToByte(bar->Position(), bar->Min(), bar->Max()));
}

// The first send follows the no-queue rule like any command. The rest of the
// sequence would always find the link busy with the first, so it waits for
// it; when the first is refused the camera hears none of it, rather than
// half of it.
void TLensPage::OnePushAFClick() {
    const bool onePush = OnePushAF->Checked();
    AFocus->setEnabled(!onePush);
    AFTrack->setEnabled(!onePush);
    if (!SendValue("lens.auto_focus", !onePush && AFocus->Checked() ? 1 : 0)) {
        return;
    }
    link_.SendFollowUp(SetCommand("lens.af_tracking", !onePush && AFTrack->Checked() ? 1 : 0));
    link_.SendFollowUp(SetCommand("lens.one_push"));
}

}  // namespace zp
