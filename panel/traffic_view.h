// The traffic view: every event on the line as a row (time, wall clock,
// direction, kind, bytes, meaning), kept to a fixed number of rows, with
// pause, clear, filters, copy and save.
#pragma once

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QWidget>
#include <chrono>
#include <deque>

#include "link/traffic.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTableView;

namespace zp {

// The rows the view keeps; older ones give way.
constexpr int kTrafficRows = 100000;

class TTrafficModel : public QAbstractTableModel, public ITrafficObserver {
    Q_OBJECT

  public:
    enum TColumn { kTime, kClock, kDirection, kKind, kBytes, kMeaning, kColumns };

    TTrafficModel(std::chrono::steady_clock::time_point origin, int limit = kTrafficRows,
                  QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;

    void OnTraffic(const TTrafficEvent& e) override;

    // While paused new events wait (as many as the view keeps) and come in
    // on resume, so nothing is missed.
    void SetPaused(bool paused);
    bool Paused() const { return paused_; }
    void Clear();
    const TTrafficEvent& Event(int row) const { return rows_[static_cast<size_t>(row)]; }
    // The row as the log writes it.
    std::string Line(int row) const;
    int Limit() const { return limit_; }

  private:
    void Append(const TTrafficEvent& e);

    std::chrono::steady_clock::time_point origin_;
    int limit_;
    std::deque<TTrafficEvent> rows_;
    std::deque<TTrafficEvent> waiting_;
    bool paused_ = false;
};

// Which rows show: a page (its command group, 0 for all), a kind of row, and
// errors only.
class TTrafficFilter : public QSortFilterProxyModel {
    Q_OBJECT

  public:
    enum TKinds { kAllKinds, kFrames, kReplies, kControl, kLinkEvents };
    using QSortFilterProxyModel::QSortFilterProxyModel;
    void SetGroup(uint8_t group);
    void SetKinds(TKinds kinds);
    void SetTroubleOnly(bool only);

  protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override;

  private:
    uint8_t group_ = 0;
    TKinds kinds_ = kAllKinds;
    bool troubleOnly_ = false;
};

class TTrafficView : public QWidget {
    Q_OBJECT

  public:
    TTrafficView(std::chrono::steady_clock::time_point origin, QWidget* parent = nullptr);

    TTrafficModel* Model() const { return model_; }
    TTrafficFilter* Filter() const { return filter_; }
    QTableView* Table() const { return table_; }
    // The shown rows' lines, selected ones only when selectedOnly.
    QString Text(bool selectedOnly) const;
    // Writes the shown rows; false with the reason when it cannot.
    bool Save(const QString& path, QString& error) const;

  private slots:
    void CopySelected();
    void SaveAs();

  private:
    void RowsAdded();

    TTrafficModel* model_;
    TTrafficFilter* filter_;
    QTableView* table_;
    QPushButton* pause_;
    QLabel* count_;
};

}  // namespace zp
