// The camera's vocabulary as data: its pages, command groups and settings,
// how each setting travels in a set command and in a reply, and the functions
// that encode, decode and describe frames with it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "link/uVar.h"

namespace zp {

// Command groups, frame and reply byte 2: one table for the whole program.
constexpr uint8_t kGroupTitle = 0x10, kGroupLens = 0x21, kGroupAgc = 0x1A, kGroupAlc = 0x48,
                  kGroupBlc = 0x18, kGroupColour = 0x1B, kGroupAperture = 0x47, kGroupMotion = 0x23,
                  kGroupPosition = 0x52, kGroupOther = 0x54;

// Title items: the display and position share item 0 in queries and replies,
// the text travels in parts under item 1.
constexpr uint8_t kItemTitleDisplay = 0x00, kItemTitleText = 0x01;
// Position queries besides the page's own: a stored record, the current state.
constexpr uint8_t kItemReadRecord = 0x01, kItemReadCurrent = 0x02;

// The camera's code for a title character, or this marker where it has none.
constexpr uint16_t kNoTitleCode = 0xFFFF;
// The camera's space; it also stands in for characters without a code.
constexpr uint16_t kTitleSpace = 0x01FE;
// Characters of a title and of one part of it, and the parts.
constexpr int kTitleLength = 20, kTitlePartLength = 5, kTitleParts = 4;

extern const std::array<uint16_t, 256> TitleCharTable;

// The code sent for a character value 0...255; anything without a code, and
// anything beyond one byte, goes out as a space.
uint16_t TitleCodeOf(unsigned ch);
// The character of a code read back: the lowest character value with that
// code; a code no character has reads as a space, like the camera's own.
char TitleCharOf(uint16_t code);

enum class TSettingKind {
    Choice,   // a radio group: Items, the value is the item index
    Switch,   // a check box: 0 or 1, Items are "OFF", "ON"
    Number,   // Min ... Max; it may list the items its control shows
    Area,     // the 48-area grid as a six-byte mask
    Text,     // the title, in parts of five characters
    Step,     // a signed 16-bit value in the four-character form
    Command,  // a command without a value of its own
    Record,   // the position record: number and six packed bytes
};

// How a set command carries the value, from frame byte 4.
enum class TEncoding {
    None,       // byte 4 = 0
    Byte,       // byte 4 = the value's low byte
    Flag,       // byte 4 = 1 when the value is non-zero, else 0
    Word,       // bytes 4, 5 = the value's low 16 bits, high byte first
    Mask,       // bytes 4 ... 9 = the area mask
    TitlePart,  // byte 4 = part, bytes 5 ... 14 = five character codes
    Record,     // byte 4 = number, bytes 5 ... 10 = the record
};

// Reply byte 3 tells the forms of a group's replies apart.
constexpr int kAnyForm = -1;
constexpr int kNonZeroForm = 0x100;

struct TSetting {
    std::string_view Id;       // stable: "colour.white_balance"
    std::string_view Caption;  // the control's caption on its page; may be empty
    std::string_view Name;     // a name that stands on its own: "ALC AUTO Level"
    TSettingKind Kind = TSettingKind::Choice;
    std::vector<std::string_view> Items;  // choice and switch texts, in order
    int32_t Min = 0;                      // values a set command may carry
    int32_t Max = 0;
    uint8_t Group = 0;
    int Item = -1;  // set-command item byte, -1 when there is none
    TEncoding Encoding = TEncoding::None;
    int PayloadLength = 4;     // bytes 1 ... n of the set command
    int ReplyByte = -1;        // first reply byte that carries it, -1 when none does
    int ReplyBit = -1;         // lowest bit of a field, -1: the whole byte
    int ReplyBits = 8;         // width of the field
    int ReplyForm = kAnyForm;  // reply byte 3 of the replies that carry it
    bool ClampToLast = false;  // a reply value past the last item selects the last
    // Moves, resets or writes the camera (preset, initialise, a motion, a
    // lens position, a position load or save): never a setting of a backup.
    bool Action = false;
};

// A mode that decides which of its levels the camera takes: those of WhenOff
// while the mode's value is 0, those of WhenOn otherwise.
struct TInterlock {
    std::string_view Mode;
    std::vector<std::string_view> WhenOff;
    std::vector<std::string_view> WhenOn;
};
const std::vector<TInterlock>& CatalogueInterlocks();

struct TPageDef {
    std::string_view Id;       // "colour"
    std::string_view Caption;  // the tab's caption, "Col"
    uint8_t Group = 0;
    std::array<uint8_t, 4> Query{};  // payload bytes 1 ... 4 of the page's query
    std::vector<const TSetting*> Settings;
};

struct TValue {
    int32_t Number = 0;  // item index, switch, number, step; the part or the record number
    std::array<uint8_t, 6> Area{};  // area mask; the packed position record
    std::string Text;               // title text
};

struct TDecoded {
    const TSetting* Setting = nullptr;
    TValue Value;
};

// The ten pages in tab order, each with its settings.
const std::vector<TPageDef>& CataloguePages();
// Every setting, page by page.
const std::vector<TSetting>& CatalogueSettings();
// The fields of a position record, in the page's order.
const std::vector<const TSetting*>& CatalogueRecordFields();

// By identifier or caption, either case; nullptr when there is none.
const TPageDef* FindPage(std::string_view idOrCaption);
const TPageDef* PageOfGroup(uint8_t group);
// By identifier; nullptr when there is none.
const TSetting* FindSetting(std::string_view id);
// The same; when there is none, error says so and names what there is.
const TSetting* LookupSetting(std::string_view id, std::string& error);
// The setting a set command of this group and item changes.
const TSetting* SettingOfItem(uint8_t group, uint8_t item);

// The value as text: an item text, a number, a four-character step, twelve
// hexadecimal digits of a mask, the title.
std::string ValueText(const TSetting& s, const TValue& v);
// Reads a value text; false with a clear error naming what is allowed.
bool ParseValue(const TSetting& s, std::string_view text, TValue& v, std::string& error);

// Payload bytes 1 ... n of the set command: 21, group, item, arguments. Empty
// when the setting has no set command or the value cannot be sent.
std::vector<uint8_t> EncodeSet(const TSetting& s, const TValue& v);
// The bytes a setting takes in a reply, from its first reply byte on.
size_t ReplyWidth(const TSetting& s);
// Puts a record field's value into the six packed bytes of a position record.
void PackRecordField(const TSetting& field, const TValue& v, std::array<uint8_t, 6>& record);

// The settings a data reply carries, as the parser stores it (byte 0 the
// start byte). requestKind is byte 1 of the frame it answers: a position
// reply to a set command always carries the general state.
std::vector<TDecoded> DecodeReply(const uint8_t* reply, size_t n, uint8_t requestKind = kQuery);

// One line in words for an 18-byte command frame: "Col · White Balance := AUTO".
std::string DescribeCommand(const uint8_t* frame, size_t n);
// One line for a reply, 17 bytes as stored or 18 as received:
// "reply Col: White Balance AUTO, Auto Level MIDDLE, ...".
std::string DescribeReply(const uint8_t* reply, size_t n);
// "ENQ", "ACK", "NAK", otherwise "byte 41".
std::string DescribeControl(uint8_t b);
// Why bytes that arrived as a frame are not one: "malformed: end byte 04".
std::string DescribeMalformed(const uint8_t* bytes, size_t n);

}  // namespace zp
