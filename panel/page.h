// The page framework: what every page of the main window supplies (caption,
// command group, query, reply handler) and the helpers they share for sending
// commands and reading replies back.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <cstdint>
#include <initializer_list>

#include "link/camera_link.h"

namespace zp {

class TAreaGrid;
class TRadioGroup;

// A level group's items: first, "+1" ... "+steps", "MAX".
QStringList LevelItems(const QString& first, int steps);

// The white-balance levels, from red through the middle to blue.
QStringList BalanceItems();

// A radio group with the object name the rest of the program finds it by.
TRadioGroup* NamedGroup(const QString& name, const QString& caption, const QStringList& items,
                        int columns, QWidget* parent);

class TPage : public QWidget {
    Q_OBJECT

  public:
    TPage(TCameraLink& link, const QString& sheetName, const QString& caption, uint8_t group,
          QWidget* parent = nullptr);

    const QString& Caption() const { return caption_; }
    uint8_t CommandGroup() const { return group_; }

    // The query builder: bytes 31, group, 00, 00 with payload length 4.
    virtual void Query();

    // The reply handler, called for every completed exchange while this page
    // is active. The default applies the common read-back rule with Decode.
    virtual void HandleReply();

  protected:
    // Fills the page's controls from the reply buffer.
    virtual void Decode() {}

    bool CanSend() const { return link_.CanSend(); }
    TCommandFrame& Frame() { return link_.Vars().CommandFrame; }
    const std::array<uint8_t, kReplyStored>& Reply() const {
        return link_.Vars().Parser.ReplyFrame;
    }
    // Byte 1 of the last frame sent: was it a query?
    bool LastSentWasQuery() const { return link_.Vars().CommandFrame[1] == kQuery; }
    void ReleaseLink() { link_.ReleaseLink(); }

    // The send pattern: nothing while busy; otherwise bytes 1..n of the
    // shared frame and SendFrame(n). True when it was written to the port.
    bool Send(std::initializer_list<uint8_t> payload);
    // A set command of this page's group: 21, group, item, then the arguments.
    bool SendSet(uint8_t item, std::initializer_list<uint8_t> args);

    // A set command with the group's item index; nothing while none is chosen.
    void SendIndex(uint8_t item, const TRadioGroup* group);
    // A set command with the whole grid, read at the moment of the call.
    void SendArea(uint8_t item, const TAreaGrid* grid);

    // The common read-back rule: another reply kind frees the link; this
    // page's group is decoded (when decode is true) and frees the link;
    // another group leaves the link busy.
    void ReadBack(bool decode);
    // The rule's screening: true for a data reply of this page's group, which
    // the caller decodes and then frees the link; otherwise another reply kind
    // has freed the link and another group has left it busy.
    bool OwnDataReply();

    TCameraLink& link_;

  private:
    QString caption_;
    uint8_t group_;
};

}  // namespace zp
