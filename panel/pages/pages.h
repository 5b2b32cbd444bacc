// The ten pages of the main window, in tab order.
#pragma once

#include <vector>

#include "panel/page.h"

namespace zp {

std::vector<TPage*> CreatePages(TCameraLink& link, QWidget* parent);

}  // namespace zp
