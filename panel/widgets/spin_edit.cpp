#include "panel/widgets/spin_edit.h"

#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionSpinBox>
#include <algorithm>
#include <optional>

namespace zp {

namespace {

// Digits only, surrounding blanks allowed; no sign, so "-0" and "+5" are not numbers.
std::optional<int> WholeNumber(const QString& text, int min, int max) {
    const QString t = text.trimmed();
    if (t.isEmpty() || t.size() > 9) {
        return std::nullopt;
    }
    int value = 0;
    for (const QChar c : t) {
        if (c.unicode() < u'0' || c.unicode() > u'9') {
            return std::nullopt;
        }
        value = value * 10 + (c.unicode() - u'0');
    }
    if (value < min || value > max) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

TSpinEdit::TSpinEdit(int min, int max, int position, QWidget* parent)
    : QAbstractSpinBox(parent),
      min_(std::min(min, max)),
      max_(std::max(min, max)),
      position_(std::clamp(position, min_, max_)) {
    setWrapping(false);
    setAccelerated(false);
    setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    lineEdit()->setText(QString::number(position_));
    connect(lineEdit(), &QLineEdit::textChanged, this, &TSpinEdit::TextChanged);
    connect(this, &QAbstractSpinBox::editingFinished, this, &TSpinEdit::Commit);
}

int TSpinEdit::Value() const {
    if (const std::optional<int> number = WholeNumber(Text(), min_, max_)) {
        position_ = *number;
    }
    return position_;
}

void TSpinEdit::Commit() {
    Value();
    ShowValidity();
}

void TSpinEdit::SetValue(int value) {
    value = std::clamp(value, min_, max_);
    position_ = value;
    // Rewriting the same text is no change; the number still comes into force.
    lineEdit()->setText(QString::number(value));
}

QString TSpinEdit::Text() const {
    return lineEdit()->text();
}

void TSpinEdit::SetText(const QString& text) {
    lineEdit()->setText(text);
}

void TSpinEdit::stepBy(int steps) {
    const long long next = static_cast<long long>(Value()) + steps;
    SetValue(static_cast<int>(std::clamp<long long>(next, min_, max_)));
    selectAll();
}

QAbstractSpinBox::StepEnabled TSpinEdit::stepEnabled() const {
    StepEnabled enabled = StepNone;
    if (isReadOnly()) {
        return enabled;
    }
    const int value = WholeNumber(Text(), min_, max_).value_or(position_);
    if (value < max_) {
        enabled |= StepUpEnabled;
    }
    if (value > min_) {
        enabled |= StepDownEnabled;
    }
    return enabled;
}

QValidator::State TSpinEdit::validate(QString& /*input*/, int& /*pos*/) const {
    // Any text may stand in the edit; an invalid one just isn't the number.
    return QValidator::Acceptable;
}

void TSpinEdit::fixup(QString& /*input*/) const {}

QSize TSpinEdit::sizeHint() const {
    ensurePolished();
    const QFontMetrics fm(font());
    QStyleOptionSpinBox option;
    initStyleOption(&option);
    const int digits = static_cast<int>(QString::number(max_).size()) + 1;
    QSize text(fm.horizontalAdvance(QString(digits, '0')) + 4, lineEdit()->sizeHint().height());
    return style()->sizeFromContents(QStyle::CT_SpinBox, &option, text, this);
}

QSize TSpinEdit::minimumSizeHint() const {
    return sizeHint();
}

void TSpinEdit::TextChanged(const QString& text) {
    textValid_ = WholeNumber(text, min_, max_).has_value();
    ShowValidity();
    emit Change();
}

void TSpinEdit::ShowValidity() {
    QPalette palette = lineEdit()->palette();
    palette.setColor(QPalette::Text,
                     textValid_ ? this->palette().color(QPalette::Text) : QColor(Qt::red));
    lineEdit()->setPalette(palette);
    lineEdit()->setToolTip(textValid_ ? QString()
                                      : tr("Not a whole number from %1 to %2: %3 stays in force")
                                            .arg(min_)
                                            .arg(max_)
                                            .arg(position_));
    update();  // the spinner's arrows follow the number
}

}  // namespace zp
