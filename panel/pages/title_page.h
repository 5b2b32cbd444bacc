// The camera title: its text in four parts, its display and position.
#pragma once

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <array>
#include <cstdint>

#include "panel/page.h"
#include "panel/widgets/radio_group.h"
#include "panel/widgets/title_picture.h"

namespace zp {

// The camera's code for a title character, or this marker where it has none.
constexpr uint16_t kNoTitleCode = 0xFFFF;
// The camera's space; it also stands in for characters without a code.
constexpr uint16_t kTitleSpace = 0x01FE;
// Characters of a title, and of one part of it.
constexpr int kTitleLength = 20;
constexpr int kTitlePartLength = 5;
constexpr int kTitleParts = 4;

extern const std::array<uint16_t, 256> TitleCharTable;

// The code sent for a character value 0...255; anything without a code, and
// anything beyond one byte, goes out as a space.
uint16_t TitleCodeOf(unsigned ch);
// The character of a code read back: the lowest character value with that
// code; a code no character has reads as a space, like the camera's own.
char TitleCharOf(uint16_t code);

class TTitlePage : public TPage {
    Q_OBJECT

  public:
    explicit TTitlePage(TCameraLink& link, QWidget* parent = nullptr);

    // The first query of the title chain: part 0.
    void Query() override;
    // Drives the read and write chains: each reply starts the next step.
    void HandleReply() override;

  private slots:
    void SetTitleClick();
    void TitleDispClick();
    void TitlePosClick();

  private:
    QGroupBox* GroupBox1 = nullptr;
    QLineEdit* CName = nullptr;
    QPushButton* SetTitle = nullptr;
    QGroupBox* GroupBox4 = nullptr;
    TTitlePicture* Image1 = nullptr;
    TRadioGroup* TitleDisp = nullptr;
    TRadioGroup* TitlePos = nullptr;

    void QueryPart(uint8_t part);
    void QueryDisplay();
    void WritePart(uint8_t part);
    void DecodePart();
    void ReplyToQuery();
    void ReplyToCommand();

    QString reading_;  // the title being read, part by part
};

}  // namespace zp
