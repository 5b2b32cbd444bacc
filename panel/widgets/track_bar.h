// A horizontal track bar with tick marks. Change fires on every change of
// Position: dragging, keys, the wheel, or code.
#pragma once

#include <QSlider>

namespace zp {

class TTrackBar : public QSlider {
    Q_OBJECT

  public:
    TTrackBar(int min, int max, int frequency, QWidget* parent = nullptr);

    int Min() const { return minimum(); }
    int Max() const { return maximum(); }
    // A range that no longer holds the position moves it, and that is a change.
    void SetRange(int min, int max) { setRange(min, max); }

    int Position() const { return value(); }
    // A position outside the range is held at the nearer end.
    void SetPosition(int position) { setValue(position); }

    // Tick marks every Frequency steps, counted from Min; Page Up and Page
    // Down move by one tick.
    int Frequency() const { return tickInterval(); }
    void SetFrequency(int frequency);

  signals:
    void Change();
};

}  // namespace zp
