// The camera title: its text in four parts, its display and position.
#pragma once

#include "page.h"

namespace zp {

class TTitlePage : public TPage {
    Q_OBJECT

  public:
    explicit TTitlePage(TCameraLink& link, QWidget* parent = nullptr);

    // The first query of the title chain: part 0.
    void Query() override;
};

}  // namespace zp
