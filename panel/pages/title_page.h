// The camera title: its text in four parts, its display and position.
#pragma once

#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <cstdint>

#include "panel/page.h"

namespace zp {

class TTitlePage : public TPage {
    Q_OBJECT

  public:
    explicit TTitlePage(TCameraLink& link, QWidget* parent = nullptr);

    // The first query of the title chain: part 0.
    void Query() override;
    // Drives the read and write chains: each reply starts the next step.
    void HandleReply() override;

  private slots:
    void TitleDispClick() { SendBound("title.display"); }
    void TitlePosClick() { SendBound("title.position"); }
    void SetTitleClick();

  private:
    QLineEdit* CName = nullptr;
    QPushButton* SetTitle = nullptr;

    void QueryPart(uint8_t part);
    void QueryDisplay();
    void WritePart(uint8_t part);
    void DecodePart();
    void ReplyToQuery();
    void ReplyToCommand();

    QString reading_;  // the title being read, part by part
};

}  // namespace zp
