#include "panel/widgets/area_grid.h"

#include <QEvent>
#include <QGridLayout>
#include <QKeyEvent>
#include <algorithm>

#include "panel/widgets/check_box.h"

namespace zp {

TAreaGrid::TAreaGrid(const QString& prefix, const QString& label, QWidget* parent)
    : QFrame(parent) {
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
    setAccessibleName(tr("%1 area").arg(label));
    auto* grid = new QGridLayout(this);
    grid->setSpacing(0);
    grid->setContentsMargins(6, 6, 6, 6);
    for (int n = 1; n <= kAreas; ++n) {
        const int row = (n - 1) / kColumns;
        const int column = (n - 1) % kColumns;
        const QString number = QString::number(n).rightJustified(2, '0');
        auto* box = new TCheckBox(QString(), this);
        box->setObjectName(prefix + number);
        box->setAccessibleName(tr("%1 area %2").arg(label, number));
        box->setToolTip(tr("Area %1: row %2, column %3").arg(number).arg(row + 1).arg(column + 1));
        box->installEventFilter(this);
        connect(box, &TCheckBox::Click, this, [this, n] { emit Click(n); });
        grid->addWidget(box, row, column, Qt::AlignCenter);
        boxes_[static_cast<size_t>(n - 1)] = box;
    }
    SetTabStop(1);
}

TCheckBox* TAreaGrid::Box(int area) const {
    if (area < 1 || area > kAreas) {
        return nullptr;
    }
    return boxes_[static_cast<size_t>(area - 1)];
}

AreaGridMask TAreaGrid::Mask() const {
    AreaGridMask mask{};
    for (int i = 0; i < kAreas; ++i) {
        if (boxes_[static_cast<size_t>(i)]->Checked()) {
            mask[static_cast<size_t>(i / kColumns)] |=
                static_cast<std::uint8_t>(1u << (i % kColumns));
        }
    }
    return mask;
}

void TAreaGrid::SetMask(const AreaGridMask& mask) {
    for (int i = 0; i < kAreas; ++i) {
        const bool on = (mask[static_cast<size_t>(i / kColumns)] >> (i % kColumns)) & 1u;
        boxes_[static_cast<size_t>(i)]->SetChecked(on);
    }
}

void TAreaGrid::SetTabStop(int area) {
    for (int n = 1; n <= kAreas; ++n) {
        Box(n)->setFocusPolicy(n == area ? Qt::StrongFocus : Qt::ClickFocus);
    }
}

bool TAreaGrid::eventFilter(QObject* watched, QEvent* event) {
    const auto it = std::find(boxes_.begin(), boxes_.end(), watched);
    if (it == boxes_.end()) {
        return QFrame::eventFilter(watched, event);
    }
    const int i = static_cast<int>(it - boxes_.begin());
    if (event->type() == QEvent::FocusIn) {
        // Tab comes back to the box last used.
        SetTabStop(i + 1);
        return false;
    }
    if (event->type() != QEvent::KeyPress) {
        return false;
    }
    int row = i / kColumns;
    int column = i % kColumns;
    switch (static_cast<QKeyEvent*>(event)->key()) {
        case Qt::Key_Up:
            row = std::max(row - 1, 0);
            break;
        case Qt::Key_Down:
            row = std::min(row + 1, kRows - 1);
            break;
        case Qt::Key_Left:
            column = std::max(column - 1, 0);
            break;
        case Qt::Key_Right:
            column = std::min(column + 1, kColumns - 1);
            break;
        default:
            return false;
    }
    Box(row * kColumns + column + 1)->setFocus(Qt::TabFocusReason);
    return true;
}

}  // namespace zp
