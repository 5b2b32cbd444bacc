#include "panel/widgets/track_bar.h"

#include <algorithm>

namespace zp {

TTrackBar::TTrackBar(int min, int max, int frequency, QWidget* parent)
    : QSlider(Qt::Horizontal, parent) {
    setRange(min, max);
    setValue(std::clamp(0, min, max));
    setSingleStep(1);
    setTickPosition(QSlider::TicksBelow);
    SetFrequency(frequency);
    setFocusPolicy(Qt::StrongFocus);
    connect(this, &QSlider::valueChanged, this, [this] { emit Change(); });
}

void TTrackBar::SetFrequency(int frequency) {
    frequency = std::max(frequency, 1);
    setTickInterval(frequency);
    setPageStep(frequency);
}

}  // namespace zp
