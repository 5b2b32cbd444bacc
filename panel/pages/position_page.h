// Position memories: recall, alarm position, and reading, editing and saving
// a stored record.
#pragma once

#include <QLineEdit>
#include <QPushButton>
#include <string_view>
#include <utility>
#include <vector>

#include "panel/page.h"
#include "panel/widgets/radio_group.h"
#include "panel/widgets/spin_edit.h"

namespace zp {

class TPositionPage : public TPage {
    Q_OBJECT

  public:
    explicit TPositionPage(TCameraLink& link, QWidget* parent = nullptr);

  private slots:
    void PosLoadClick() { SendBound("position.load"); }
    void OSDxClick() { SendBound("position.osd"); }
    void AlSaveClick();
    void PosReadxClick();
    void PosNowReadClick();
    void PosSaveClick();
    void PosALCClick();
    void PosAESClick();

  private:
    // Each number is one spin edit: the spinner is the control, the edit its line.
    TSpinEdit* AlSaveUD = nullptr;
    TSpinEdit* PosSaveUD = nullptr;
    TRadioGroup* PosALC = nullptr;
    TRadioGroup* PosAES = nullptr;
    QPushButton* PosSave = nullptr;
    // The record's choices and its zoom and focus texts, each with its setting.
    std::vector<std::pair<std::string_view, TRadioGroup*>> record_;
    std::vector<std::pair<std::string_view, QLineEdit*>> values_;

    // Save is usable only when every group of the record has a choice.
    void UpdateSaveEnabled();
};

}  // namespace zp
