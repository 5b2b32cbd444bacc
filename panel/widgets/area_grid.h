// The 8 x 6 grid of picture areas, one check box per area, and its six-byte
// mask. Area n (1 ... 48) lies in row (n - 1) / 8 from the top and column
// (n - 1) % 8 from the left; its box is named the prefix and two digits
// (BLCCheck09). Mask byte k is row k, top row first; bit j is column j, bit 0
// the leftmost.
//
// Click(area) fires whenever a box changes, by the operator or by code. So
// SetAreaGridMask raises it once for each box whose state changes, in area
// order, and not at all for a mask the grid already shows; a handler that
// reads AreaGridMask() mid-way sees the boxes set so far.
//
// The grid is one Tab stop; the arrow keys move between boxes, Space toggles.
#pragma once

#include <QFrame>
#include <array>
#include <cstdint>

namespace zp {

class TCheckBox;

using AreaGridMask = std::array<std::uint8_t, 6>;

class TAreaGrid : public QFrame {
    Q_OBJECT

  public:
    static constexpr int kColumns = 8;
    static constexpr int kRows = 6;
    static constexpr int kAreas = kColumns * kRows;

    // prefix names the boxes ("BLCCheck"); label names the areas for the
    // accessible names ("BLC" gives "BLC area 09").
    TAreaGrid(const QString& prefix, const QString& label, QWidget* parent = nullptr);

    // Area 1 ... 48; nullptr otherwise.
    TCheckBox* Box(int area) const;

    AreaGridMask Mask() const;
    void SetMask(const AreaGridMask& mask);

  signals:
    void Click(int area);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void SetTabStop(int area);

    std::array<TCheckBox*, kAreas> boxes_{};
};

}  // namespace zp
