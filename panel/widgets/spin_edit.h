// An edit with an up-down spinner that together hold one whole number within
// Min ... Max. The spinner (buttons, arrow keys, wheel) steps the number by 1
// without wrapping round and writes it into the edit. The operator may type
// anything: Value is the edit's number when it is a whole number within the
// range, and otherwise the number last in force (the edit then shows its text
// in red, with a tooltip naming that number).
//
// A number comes into force when it is read, set, stepped to, or left in the
// edit (Enter, focus out); the keystrokes on the way do not count, so typing
// 250 over 1 leaves 1 in force, not the 25 that stood in the edit meanwhile.
//
// Change fires on every change of the edit's text: typing, the spinner, or
// SetValue.
#pragma once

#include <QAbstractSpinBox>

namespace zp {

class TSpinEdit : public QAbstractSpinBox {
    Q_OBJECT

  public:
    TSpinEdit(int min, int max, int position, QWidget* parent = nullptr);

    int Min() const { return min_; }
    int Max() const { return max_; }

    // The number in force.
    int Value() const;
    // Held within the range; rewrites the edit.
    void SetValue(int value);

    QString Text() const;
    // As if the operator had typed it.
    void SetText(const QString& text);
    // Whether the edit holds a whole number within the range.
    bool TextIsValid() const { return textValid_; }

    void stepBy(int steps) override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  signals:
    void Change();

  protected:
    StepEnabled stepEnabled() const override;
    QValidator::State validate(QString& input, int& pos) const override;
    void fixup(QString& input) const override;

  private:
    void TextChanged(const QString& text);
    void Commit();
    void ShowValidity();

    int min_;
    int max_;
    mutable int position_;
    bool textValid_ = true;
};

}  // namespace zp
