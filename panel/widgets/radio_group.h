// A captioned group of mutually exclusive items, addressed by item index.
//
// Items fill the columns one after the other, top to bottom: with n items in
// c columns each column holds ceil(n / c) rows, and item i sits in row
// i mod rows of column i div rows. Level lists thus read downwards.
//
// ItemIndex is -1 (nothing selected) at start. Click fires whenever the index
// changes, by the operator (mouse or keyboard) or by SetItemIndex, once per
// change and after the new index is in place; picking the selected item again
// is no change. The arrow keys move the selection within the group; the group
// is a single Tab stop.
#pragma once

#include <QGroupBox>
#include <QStringList>
#include <vector>

class QButtonGroup;
class QGridLayout;
class QRadioButton;

namespace zp {

class TRadioGroup : public QGroupBox {
    Q_OBJECT

  public:
    explicit TRadioGroup(QWidget* parent = nullptr);
    TRadioGroup(const QString& caption, const QStringList& items, int columns = 1,
                QWidget* parent = nullptr);

    const QString& Caption() const { return caption_; }
    void SetCaption(const QString& caption);

    const QStringList& Items() const { return items_; }
    // New items clear the selection (a change when something was selected).
    void SetItems(const QStringList& items);

    int Columns() const { return columns_; }
    void SetColumns(int columns);

    int ItemIndex() const { return index_; }
    // A value past the last item selects the last item; below 0 clears the
    // selection.
    void SetItemIndex(int index);

    // The button of an item, for tests and accessibility; nullptr when out of range.
    QRadioButton* Button(int index) const;

  signals:
    void Click();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Rebuild();
    void Relayout();
    int Rows() const;
    void Select(int index);
    void ShowIndex();
    void UpdateTabStop();
    int KeyTarget(int from, int key) const;

    QString caption_;
    QStringList items_;
    int columns_ = 1;
    int index_ = -1;
    bool showing_ = false;
    QGridLayout* grid_ = nullptr;
    QButtonGroup* group_ = nullptr;
    std::vector<QRadioButton*> buttons_;
};

}  // namespace zp
