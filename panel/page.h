// The page framework: what every page of the main window supplies (caption,
// command group, query, reply handler), the plain controls made from the
// catalogue's rows, and the helpers pages share for sending commands and
// reading replies back.
#pragma once

#include <QGridLayout>
#include <QMargins>
#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <utility>
#include <vector>

#include "link/camera_link.h"
#include "link/catalogue.h"

namespace zp {

class TAreaGrid;
class TCheckBox;
class TRadioGroup;

// Bar positions on the one-byte wire: the range maps linearly onto 0..255,
// the byte rising with the position, and back.
uint8_t BarToByte(int position, int min, int max);
int ByteToBar(uint8_t b, int min, int max);

// A layout on the widget with the pages' margins and spacing.
template <class TLayout>
TLayout* LayOut(QWidget* on, const QMargins& margins, int spacing) {
    auto* layout = new TLayout(on);
    layout->setContentsMargins(margins);
    layout->setSpacing(spacing);
    return layout;
}
QGridLayout* GridOn(QWidget* on, const QMargins& margins, int hSpacing, int vSpacing);

// The widget with its object name, by which tests and the window find it, and
// its accessible name when one is given.
template <class TWidget>
TWidget* Named(TWidget* w, const QString& objectName, const QString& accessibleName = {}) {
    w->setObjectName(objectName);
    if (!accessibleName.isEmpty()) {
        w->setAccessibleName(accessibleName);
    }
    return w;
}

class TPage : public QWidget {
    Q_OBJECT

  public:
    // Caption and query come from the catalogue's page of this group.
    TPage(TCameraLink& link, const QString& sheetName, uint8_t group, QWidget* parent = nullptr);

    const QString& Caption() const { return caption_; }
    uint8_t CommandGroup() const { return group_; }

    // The query builder: the catalogue's four query bytes.
    virtual void Query();

    // The reply handler, called for every completed exchange while this page
    // is active. The default applies the common read-back rule with Decode.
    virtual void HandleReply();

  protected:
    // Fills every control bound to a setting from the reply buffer, in the
    // catalogue's order.
    virtual void Decode();

    // A radio group with the setting's caption and items. Choice also binds
    // it, so Decode fills it, and connects its Click to the page's handler
    // named after it (ColorClick for Color), which sends it with SendBound; a
    // page that sends the value its own way makes the group with ChoiceGroup.
    TRadioGroup* ChoiceGroup(std::string_view settingId, const char* objectName, int columns,
                             QWidget* parent);
    TRadioGroup* Choice(std::string_view settingId, const char* objectName, int columns,
                        QWidget* parent);
    // Choice groups on this page, made in order (the tab order) into their cells.
    struct TCell {
        const char* settingId;
        const char* objectName;
        int columns;  // of the group's buttons
        int row;
        int column;
        int rowSpan = 1;
        int columnSpan = 1;
    };
    void Choices(QGridLayout* grid, std::initializer_list<TCell> cells);
    // A check box, bound and connected as Choice does; it sends 1 or 0.
    TCheckBox* Switch(std::string_view settingId, const char* objectName, QWidget* parent);
    // An area grid, bound and connected as Choice does, its handler named
    // after the first box (BLCCheck01Click); it sends the whole mask.
    TAreaGrid* Area(std::string_view settingId, const char* objectName, const QString& boxPrefix,
                    const QString& label, QWidget* parent);
    // Lets Decode fill a control made by hand: a radio group, check box, area
    // grid, spin edit, track bar, or a line edit that shows a step value.
    void Bind(std::string_view settingId, QWidget* control);
    // After each Decode, the controls that only apply while the setting is on
    // (non-zero) are enabled then, those that apply while it is off otherwise.
    void EnableWith(std::string_view settingId, std::vector<QWidget*> whenOn,
                    std::vector<QWidget*> whenOff = {});

    // The setting's set command with the value; nothing while busy or when
    // the value cannot be sent. True when it was written to the port.
    // The catalogue's setting; the page names it in code, so it exists.
    static const TSetting& Setting(std::string_view settingId);
    bool SendValue(std::string_view settingId, int32_t value);
    // What the handler of a plain control does: sends the setting with the
    // value its bound control shows (index, check, mask); nothing while no
    // item is chosen.
    void SendBound(std::string_view settingId);
    bool SendValue(std::string_view settingId, const TValue& value);
    // The setting's set command for a follow-up; empty when it cannot be sent.
    static std::vector<uint8_t> SetCommand(std::string_view settingId, int32_t value = 0);

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
    bool Send(const std::vector<uint8_t>& payload);
    // A set command of this page's group: 21, group, item, then the arguments.
    bool SendSet(uint8_t item, const std::vector<uint8_t>& args);

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
    // Connects the control's Click to this page's slot of that name; a
    // missing handler is a programming error.
    void ConnectHandler(QObject* control, const QByteArray& handler);
    bool SendEncoded(const TSetting& s, const TValue& v);
    // Bytes from frame byte at on, then SendFrame up to the last of them.
    bool SendFrom(size_t at, const std::vector<uint8_t>& bytes);

    QString caption_;
    uint8_t group_;
    std::array<uint8_t, 4> query_{};
    std::vector<std::pair<const TSetting*, QWidget*>> bound_;
    struct TEnableRule {
        const TSetting* setting;
        std::vector<QWidget*> whenOn;
        std::vector<QWidget*> whenOff;
    };
    std::vector<TEnableRule> enableRules_;
};

}  // namespace zp
