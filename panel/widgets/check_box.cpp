#include "panel/widgets/check_box.h"

namespace zp {

TCheckBox::TCheckBox(const QString& caption, QWidget* parent) : QCheckBox(caption, parent) {
    setTristate(false);
    connect(this, &QCheckBox::toggled, this, [this] { emit Click(); });
}

}  // namespace zp
