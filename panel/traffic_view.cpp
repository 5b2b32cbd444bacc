#include "panel/traffic_view.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QColor>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QTableView>
#include <QVBoxLayout>

#include "link/catalogue.h"
#include "link/func.h"
#include "panel/qt_seams.h"

namespace zp {

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

const char* const kHeaders[] = {"Time (s)", "Clock", "Direction", "Kind", "Bytes", "Meaning"};

}  // namespace

TTrafficModel::TTrafficModel(std::chrono::steady_clock::time_point origin, int limit,
                             QObject* parent)
    : QAbstractTableModel(parent), origin_(origin), limit_(std::max(1, limit)) {}

int TTrafficModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TTrafficModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QVariant TTrafficModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    const TTrafficEvent& e = Event(index.row());
    const bool trouble = IsTrouble(e);
    switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole:
            switch (index.column()) {
                case kTime:
                    return Q(RelativeTime(e, origin_));
                case kClock:
                    return Q(WallTime(e));
                case kDirection:
                    return DirectionText(e.direction);
                case kKind:
                    return KindText(e.kind);
                case kBytes:
                    return Q(BytesToHex(e.bytes.data(), e.bytes.size(), " "));
                case kMeaning:
                    return Q(TrafficMeaning(e));
                default:
                    return {};
            }
        case Qt::DecorationRole:
            // Not colour alone: trouble has an icon and its kind says what it is.
            if (index.column() == kKind && trouble) {
                return QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
            }
            return {};
        case Qt::ForegroundRole:
            if (trouble) {
                return QColor(0xA0, 0x10, 0x10);
            }
            return {};
        default:
            return {};
    }
}

QVariant TTrafficModel::headerData(int section, Qt::Orientation o, int role) const {
    if (o == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < kColumns) {
        return kHeaders[section];
    }
    return QAbstractTableModel::headerData(section, o, role);
}

void TTrafficModel::OnTraffic(const TTrafficEvent& e) {
    if (paused_) {
        if (static_cast<int>(waiting_.size()) == limit_) {
            waiting_.pop_front();
        }
        waiting_.push_back(e);
        return;
    }
    Append(e);
}

void TTrafficModel::Append(const TTrafficEvent& e) {
    if (static_cast<int>(rows_.size()) == limit_) {
        beginRemoveRows({}, 0, 0);
        rows_.pop_front();
        endRemoveRows();
    }
    const int row = static_cast<int>(rows_.size());
    beginInsertRows({}, row, row);
    rows_.push_back(e);
    endInsertRows();
}

void TTrafficModel::SetPaused(bool paused) {
    paused_ = paused;
    if (!paused_) {
        while (!waiting_.empty()) {
            Append(waiting_.front());
            waiting_.pop_front();
        }
    }
}

void TTrafficModel::Clear() {
    beginResetModel();
    rows_.clear();
    waiting_.clear();
    endResetModel();
}

std::string TTrafficModel::Line(int row) const {
    return TrafficLine(Event(row), origin_);
}

void TTrafficFilter::SetGroup(uint8_t group) {
    group_ = group;
    invalidateFilter();
}

void TTrafficFilter::SetKinds(TKinds kinds) {
    kinds_ = kinds;
    invalidateFilter();
}

void TTrafficFilter::SetTroubleOnly(bool only) {
    troubleOnly_ = only;
    invalidateFilter();
}

bool TTrafficFilter::filterAcceptsRow(int row, const QModelIndex& parent) const {
    const auto* model = static_cast<const TTrafficModel*>(sourceModel());
    if (parent.isValid() || model == nullptr) {
        return false;
    }
    const TTrafficEvent& e = model->Event(row);
    if (troubleOnly_ && !IsTrouble(e)) {
        return false;
    }
    if (group_ != 0 && TrafficGroup(e) != group_) {
        return false;
    }
    switch (kinds_) {
        case kFrames:
            return e.kind == TTrafficKind::Frame || e.kind == TTrafficKind::Resend;
        case kReplies:
            return e.kind == TTrafficKind::Reply || e.kind == TTrafficKind::Malformed;
        case kControl:
            return e.kind == TTrafficKind::Control || e.kind == TTrafficKind::Answer;
        case kLinkEvents:
            return e.direction == TDirection::Link;
        case kAllKinds:
            break;
    }
    return true;
}

TTrafficView::TTrafficView(std::chrono::steady_clock::time_point origin, QWidget* parent)
    : QWidget(parent),
      model_(new TTrafficModel(origin, kTrafficRows, this)),
      filter_(new TTrafficFilter(this)),
      table_(new QTableView(this)),
      pause_(new QPushButton("&Pause", this)),
      count_(new QLabel(this)) {
    setObjectName("TrafficView");
    filter_->setSourceModel(model_);

    pause_->setObjectName("TrafficPause");
    pause_->setCheckable(true);
    pause_->setToolTip("Stop adding rows; what arrives meanwhile comes in on resume");
    connect(pause_, &QPushButton::toggled, this, [this](bool on) {
        model_->SetPaused(on);
        pause_->setText(on ? "&Resume" : "&Pause");
    });
    auto* clear = new QPushButton("C&lear", this);
    clear->setObjectName("TrafficClear");
    connect(clear, &QPushButton::clicked, model_, &TTrafficModel::Clear);

    auto* page = new QComboBox(this);
    page->setObjectName("TrafficPage");
    page->setAccessibleName("Show the page");
    page->addItem("All pages", 0);
    for (const TPageDef& p : CataloguePages()) {
        page->addItem(Q(std::string(p.Caption)), p.Group);
    }
    connect(page, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this, page] { filter_->SetGroup(static_cast<uint8_t>(page->currentData().toInt())); });
    auto* kinds = new QComboBox(this);
    kinds->setObjectName("TrafficKinds");
    kinds->setAccessibleName("Show the kind");
    for (const char* k : {"All kinds", "Frames sent", "Replies", "Control bytes", "Link events"}) {
        kinds->addItem(k);
    }
    connect(kinds, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this](int i) { filter_->SetKinds(static_cast<TTrafficFilter::TKinds>(i)); });
    auto* trouble = new QCheckBox("&Errors only", this);
    trouble->setObjectName("TrafficErrorsOnly");
    trouble->setToolTip("Errors, NAKs, time-outs, resends, dropped bytes, lost lines");
    connect(trouble, &QCheckBox::toggled, filter_, &TTrafficFilter::SetTroubleOnly);
    auto* copy = new QPushButton("&Copy", this);
    copy->setObjectName("TrafficCopy");
    copy->setToolTip("Copy the selected rows as text (Ctrl+C)");
    connect(copy, &QPushButton::clicked, this, &TTrafficView::CopySelected);
    auto* save = new QPushButton("&Save...", this);
    save->setObjectName("TrafficSave");
    save->setToolTip("Save the rows shown as text");
    connect(save, &QPushButton::clicked, this, &TTrafficView::SaveAs);

    table_->setObjectName("TrafficTable");
    table_->setAccessibleName("Traffic");
    table_->setModel(filter_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setWordWrap(false);
    table_->setAlternatingRowColors(true);
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
    table_->horizontalHeader()->setStretchLastSection(true);
    const int digit = table_->fontMetrics().horizontalAdvance('0');
    for (auto [column, width] : {std::pair{TTrafficModel::kTime, 8},
                                 {TTrafficModel::kClock, 12},
                                 {TTrafficModel::kDirection, 11},
                                 {TTrafficModel::kKind, 13},
                                 {TTrafficModel::kMeaning, 46}}) {
        table_->setColumnWidth(column, width * digit);
    }
    // What it means before its bytes, which are long; the text keeps the
    // log's order.
    table_->horizontalHeader()->moveSection(TTrafficModel::kMeaning, TTrafficModel::kBytes);
    auto* copyKey = new QAction(this);
    copyKey->setShortcut(QKeySequence::Copy);
    copyKey->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(copyKey, &QAction::triggered, this, &TTrafficView::CopySelected);
    table_->addAction(copyKey);
    connect(filter_, &QAbstractItemModel::rowsInserted, this, &TTrafficView::RowsAdded);
    connect(filter_, &QAbstractItemModel::rowsRemoved, this, &TTrafficView::RowsAdded);
    connect(filter_, &QAbstractItemModel::modelReset, this, &TTrafficView::RowsAdded);
    connect(filter_, &QAbstractItemModel::layoutChanged, this, &TTrafficView::RowsAdded);

    count_->setObjectName("TrafficCount");
    auto* tools = new QHBoxLayout;
    for (QWidget* w :
         std::initializer_list<QWidget*>{pause_, clear, page, kinds, trouble, copy, save}) {
        tools->addWidget(w);
    }
    tools->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addLayout(tools);
    layout->addWidget(table_, 1);
    layout->addWidget(count_);
    RowsAdded();
}

void TTrafficView::RowsAdded() {
    count_->setText(QString("%1 of %2 rows shown; the last %3 are kept")
                        .arg(filter_->rowCount())
                        .arg(model_->rowCount())
                        .arg(QLocale().toString(model_->Limit())));
    // Follows the newest row unless the operator scrolled up to read.
    QScrollBar* bar = table_->verticalScrollBar();
    if (!model_->Paused() && bar->value() >= bar->maximum() - 2 * table_->rowHeight(0)) {
        table_->scrollToBottom();
    }
}

QString TTrafficView::Text(bool selectedOnly) const {
    QString text;
    for (int r = 0; r < filter_->rowCount(); ++r) {
        const QModelIndex shown = filter_->index(r, 0);
        if (selectedOnly && !table_->selectionModel()->isRowSelected(r, {})) {
            continue;
        }
        text += Q(model_->Line(filter_->mapToSource(shown).row())) + "\n";
    }
    return text;
}

void TTrafficView::CopySelected() {
    QApplication::clipboard()->setText(Text(true));
}

bool TTrafficView::Save(const QString& path, QString& error) const {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        error = QString("Cannot save the traffic to %1: %2").arg(path, file.errorString());
        return false;
    }
    const QByteArray bytes = Text(false).toUtf8();
    if (file.write(bytes) != bytes.size()) {
        error = QString("Saving the traffic to %1 failed: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

void TTrafficView::SaveAs() {
    const QString path =
        QFileDialog::getSaveFileName(this, "Save traffic", "traffic.txt", "Text (*.txt)");
    if (path.isEmpty()) {
        return;
    }
    QString error;
    if (!Save(path, error)) {
        ShowErrorMessage(error, this);
    }
}

}  // namespace zp
