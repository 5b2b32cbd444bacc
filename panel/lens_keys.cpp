// The lens keys: which keypad key holds which motion button, and the filter
// that turns their presses and releases into holds.
#include "panel/lens_keys.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <utility>

#include "panel/pages/lens_page.h"
#include "panel/widgets/motion_button.h"

namespace zp {

namespace {

// The motion keys, on the keypad: each with its button and the other button
// of the same motor.
struct TMotionKey {
    int key;
    const char* name;
    TLensMotion button;
    TLensMotion other;
};
using M = TLensMotion;
constexpr TMotionKey kMotionKeys[] = {
    {Qt::Key_Minus, "keypad -", M::Wide, M::Tele},
    {Qt::Key_Plus, "keypad +", M::Tele, M::Wide},
    {Qt::Key_Slash, "keypad /", M::Far, M::Near},
    {Qt::Key_Asterisk, "keypad *", M::Near, M::Far},
};

const TMotionKey* MotionKey(const QKeyEvent* e) {
    if (e->modifiers() != Qt::KeypadModifier) {
        return nullptr;
    }
    for (const TMotionKey& k : kMotionKeys) {
        if (k.key == e->key()) {
            return &k;
        }
    }
    return nullptr;
}

// Whether the widget, or a parent it passes keys on to, would use the key:
// asked as Qt asks before a shortcut, and an editable field says yes to what
// it would type.
bool WidgetTakesKey(QWidget* w, const QKeyEvent* e) {
    QKeyEvent probe(QEvent::ShortcutOverride, e->key(), e->modifiers(), e->text());
    probe.ignore();
    QCoreApplication::sendEvent(w, &probe);
    return probe.isAccepted();
}

}  // namespace

const char* MotionKeyName(TLensMotion m) {
    for (const TMotionKey& k : kMotionKeys) {
        if (k.button == m) {
            return k.name;
        }
    }
    return "";
}

TLensKeys::TLensKeys(TLensPage* page) : QObject(page), page_(page) {
    releaseTimer_.setSingleShot(true);
    releaseTimer_.setInterval(kRepeatGapMs);
    connect(&releaseTimer_, &QTimer::timeout, this, &TLensKeys::ReleasePending);
    if (QCoreApplication* app = QCoreApplication::instance()) {
        app->installEventFilter(this);
    }
}

bool TLensKeys::eventFilter(QObject* watched, QEvent* e) {
    switch (e->type()) {
        case QEvent::KeyPress:
            return Press(watched, static_cast<QKeyEvent*>(e));
        case QEvent::KeyRelease:
            return Release(static_cast<QKeyEvent*>(e));
        case QEvent::WindowDeactivate:
            // The releases now go to another window.
            if (watched == page_->window()) {
                ReleaseAll();
            }
            break;
        default:
            break;
    }
    return false;
}

// The main keyboard's - shares the key code of keypad -, not the flag.
bool TLensKeys::Press(QObject* watched, QKeyEvent* e) {
    if ((e->modifiers() & Qt::KeypadModifier) != 0 && held_.count(e->key()) != 0) {
        releasing_.erase(e->key());  // the release before it was a repeat
        return true;
    }
    if (e->isAutoRepeat()) {
        return false;
    }
    const TMotionKey* k = MotionKey(e);
    auto* w = qobject_cast<QWidget*>(watched);
    // A key reaches a widget only while its window has the focus: no check of
    // the active window is needed beyond this one, which also leaves popups
    // and dialogs alone.
    if (k == nullptr || w == nullptr || w->window() != page_->window()) {
        return false;
    }
    TMotionButton* button = page_->MotionButton(k->button);
    if (!button->isEnabled() || WidgetTakesKey(w, e)) {
        return false;
    }
    // One direction at a time per motor: the other key's release would stop
    // this one.
    if (page_->MotionButton(k->other)->Held()) {
        return true;
    }
    held_[e->key()] = button;
    button->PressKey();
    return true;
}

// A release counts wherever it goes: a popup may have opened meanwhile.
bool TLensKeys::Release(QKeyEvent* e) {
    const auto it = held_.find(e->key());
    if (it == held_.end() || (e->modifiers() & Qt::KeypadModifier) == 0) {
        return false;
    }
    if (!e->isAutoRepeat()) {
        releasing_.insert(e->key());
        releaseTimer_.start();
    }
    return true;
}

void TLensKeys::ReleasePending() {
    const std::set<int> keys = std::move(releasing_);
    releasing_.clear();
    for (int key : keys) {
        const auto it = held_.find(key);
        if (it != held_.end()) {
            TMotionButton* button = it->second;
            held_.erase(it);
            button->ReleaseKey();
        }
    }
}

void TLensKeys::ReleaseAll() {
    releaseTimer_.stop();
    releasing_.clear();
    const auto held = std::move(held_);
    held_.clear();
    for (const auto& [key, button] : held) {
        button->ReleaseKey();
    }
}

}  // namespace zp
