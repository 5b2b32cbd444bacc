#include "panel/widgets/radio_group.h"

#include <QButtonGroup>
#include <QEvent>
#include <QGridLayout>
#include <QKeyEvent>
#include <QRadioButton>
#include <algorithm>

namespace zp {

namespace {

// Captions and items are shown as they stand: '&' is not a mnemonic here.
QString Literal(const QString& text) {
    QString shown = text;
    return shown.replace('&', "&&");
}

}  // namespace

TRadioGroup::TRadioGroup(QWidget* parent) : TRadioGroup(QString(), QStringList(), 1, parent) {}

TRadioGroup::TRadioGroup(const QString& caption, const QStringList& items, int columns,
                         QWidget* parent)
    : QGroupBox(parent),
      columns_(std::max(columns, 1)),
      grid_(new QGridLayout(this)),
      group_(new QButtonGroup(this)) {
    // Tight rows: the longest groups (65 positions, 10 levels) must fit a
    // page of the 640 x 480 window.
    grid_->setVerticalSpacing(0);
    grid_->setContentsMargins(6, 2, 6, 2);
    group_->setExclusive(true);
    connect(group_, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        // Programmatic changes raise Click themselves, once, in Select.
        if (checked && !showing_ && id != index_) {
            index_ = id;
            UpdateTabStop();
            emit Click();
        }
    });
    SetCaption(caption);
    SetItems(items);
}

void TRadioGroup::SetCaption(const QString& caption) {
    caption_ = caption;
    setTitle(Literal(caption));
    setAccessibleName(caption);
}

void TRadioGroup::SetItems(const QStringList& items) {
    items_ = items;
    const int old = index_;
    index_ = -1;
    Rebuild();
    if (old != -1) {
        emit Click();
    }
}

void TRadioGroup::SetColumns(int columns) {
    columns_ = std::max(columns, 1);
    Relayout();
}

void TRadioGroup::SetItemIndex(int index) {
    const int count = static_cast<int>(items_.size());
    if (index >= count) {
        index = count - 1;
    }
    if (index < 0) {
        index = -1;
    }
    Select(index);
}

QRadioButton* TRadioGroup::Button(int index) const {
    if (index < 0 || index >= static_cast<int>(buttons_.size())) {
        return nullptr;
    }
    return buttons_[static_cast<size_t>(index)];
}

void TRadioGroup::Rebuild() {
    for (QRadioButton* button : buttons_) {
        group_->removeButton(button);
        delete button;
    }
    buttons_.clear();
    for (int i = 0; i < items_.size(); ++i) {
        auto* button = new QRadioButton(Literal(items_[i]), this);
        button->setAccessibleName(items_[i]);
        button->installEventFilter(this);
        group_->addButton(button, i);
        buttons_.push_back(button);
    }
    Relayout();
    ShowIndex();
}

int TRadioGroup::Rows() const {
    const int count = static_cast<int>(buttons_.size());
    return std::max((count + columns_ - 1) / columns_, 1);
}

void TRadioGroup::Relayout() {
    for (QRadioButton* button : buttons_) {
        grid_->removeWidget(button);
    }
    for (int c = 0; c < grid_->columnCount(); ++c) {
        grid_->setColumnStretch(c, 0);
    }
    const int rows = Rows();
    for (int i = 0; i < static_cast<int>(buttons_.size()); ++i) {
        grid_->addWidget(buttons_[static_cast<size_t>(i)], i % rows, i / rows);
    }
    // Equal columns, as many as asked for, even when the items leave some empty.
    for (int c = 0; c < columns_; ++c) {
        grid_->setColumnStretch(c, 1);
    }
}

void TRadioGroup::Select(int index) {
    if (index == index_) {
        return;
    }
    index_ = index;
    ShowIndex();
    emit Click();
}

void TRadioGroup::ShowIndex() {
    showing_ = true;
    if (index_ < 0) {
        // An exclusive group will not let its checked button go.
        if (QAbstractButton* checked = group_->checkedButton()) {
            group_->setExclusive(false);
            checked->setChecked(false);
            group_->setExclusive(true);
        }
    } else {
        buttons_[static_cast<size_t>(index_)]->setChecked(true);
    }
    showing_ = false;
    UpdateTabStop();
}

void TRadioGroup::UpdateTabStop() {
    // Tab enters the group at the selected item (the first when none) and
    // leaves it with the next Tab.
    const int stop = std::max(index_, 0);
    for (int i = 0; i < static_cast<int>(buttons_.size()); ++i) {
        buttons_[static_cast<size_t>(i)]->setFocusPolicy(i == stop ? Qt::StrongFocus
                                                                   : Qt::ClickFocus);
    }
}

int TRadioGroup::KeyTarget(int from, int key) const {
    const int count = static_cast<int>(buttons_.size());
    const int rows = Rows();
    int to = from;
    switch (key) {
        case Qt::Key_Up:
            to = from - 1;
            break;
        case Qt::Key_Down:
            to = from + 1;
            break;
        case Qt::Key_Left:
            to = from - rows;
            break;
        case Qt::Key_Right:
            // Into a shorter last column: its last item.
            to = from / rows + 1 < columns_ ? std::min(from + rows, count - 1) : from;
            if (to / rows == from / rows) {
                to = from;
            }
            break;
        default:
            break;
    }
    return to < 0 || to >= count ? from : to;
}

bool TRadioGroup::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) {
        return QGroupBox::eventFilter(watched, event);
    }
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key != Qt::Key_Up && key != Qt::Key_Down && key != Qt::Key_Left && key != Qt::Key_Right) {
        return QGroupBox::eventFilter(watched, event);
    }
    const auto it = std::find(buttons_.begin(), buttons_.end(), watched);
    if (it == buttons_.end()) {
        return QGroupBox::eventFilter(watched, event);
    }
    const int from = static_cast<int>(it - buttons_.begin());
    const int to = KeyTarget(from, key);
    if (to != from) {
        Select(to);
        buttons_[static_cast<size_t>(to)]->setFocus(Qt::TabFocusReason);
    }
    return true;
}

}  // namespace zp
