// A check box whose Click fires on every change of its state, whether the
// operator or code changed it (QCheckBox::clicked misses the latter).
#pragma once

#include <QCheckBox>

namespace zp {

class TCheckBox : public QCheckBox {
    Q_OBJECT

  public:
    explicit TCheckBox(const QString& caption = {}, QWidget* parent = nullptr);

    bool Checked() const { return isChecked(); }
    // Setting the state it already has is no change and raises nothing.
    void SetChecked(bool on) { setChecked(on); }

  signals:
    void Click();
};

}  // namespace zp
