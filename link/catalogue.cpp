// The catalogue's tables (the title's character codes, the ten pages and their
// settings) and the functions that encode, decode and describe with them.
#include "link/catalogue.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "link/func.h"

namespace zp {

namespace {

struct TSign {
    char ch;
    uint16_t code;
};

constexpr TSign kSigns[] = {
    {' ', 0x01FE}, {'!', 0x0113},  {'"', 0x0103}, {'#', 0x0118}, {'$', 0x011B}, {'%', 0x011A},
    {'&', 0x0119}, {'\'', 0x0102}, {'(', 0x0107}, {')', 0x0108}, {'*', 0x0126}, {'+', 0x011F},
    {',', 0x0106}, {'-', 0x0120},  {'.', 0x0105}, {'/', 0x0117}, {':', 0x0100}, {';', 0x0101},
    {'<', 0x0134}, {'=', 0x0124},  {'>', 0x0133}, {'?', 0x0114}, {'@', 0x011C}, {'[', 0x010B},
    {']', 0x010C}, {'^', 0x0168},  {'`', 0x0166}, {'{', 0x0131}, {'|', 0x002F}, {'}', 0x0132},
    {'~', 0x0179},
};

std::array<uint16_t, 256> BuildTitleTable() {
    std::array<uint16_t, 256> t{};
    t.fill(kNoTitleCode);
    for (int c = '0'; c <= '9'; ++c) {
        t[static_cast<size_t>(c)] = static_cast<uint16_t>(c - '0');
    }
    for (int c = 'A'; c <= 'Z'; ++c) {
        t[static_cast<size_t>(c)] = static_cast<uint16_t>(0x10 + c - 'A');
    }
    for (int c = 'a'; c <= 'z'; ++c) {
        t[static_cast<size_t>(c)] = static_cast<uint16_t>(0x30 + c - 'a');
    }
    for (const TSign& s : kSigns) {
        t[static_cast<uint8_t>(s.ch)] = s.code;
    }
    return t;
}

}  // namespace

const std::array<uint16_t, 256> TitleCharTable = BuildTitleTable();

uint16_t TitleCodeOf(unsigned ch) {
    if (ch > 0xFF || TitleCharTable[ch] == kNoTitleCode) {
        return kTitleSpace;
    }
    return TitleCharTable[ch];
}

char TitleCharOf(uint16_t code) {
    if (code != kNoTitleCode) {
        for (size_t c = 0; c < TitleCharTable.size(); ++c) {
            if (TitleCharTable[c] == code) {
                return static_cast<char>(c);
            }
        }
    }
    return ' ';
}

namespace {

using TItems = std::vector<std::string_view>;

constexpr std::string_view kPlus[] = {"+1", "+2", "+3",  "+4",  "+5",  "+6",  "+7",
                                      "+8", "+9", "+10", "+11", "+12", "+13", "+14"};

// A level group's items: first, "+1" ... "+steps", "MAX".
TItems Levels(std::string_view first, int steps) {
    TItems items{first};
    items.insert(items.end(), std::begin(kPlus), std::begin(kPlus) + steps);
    items.emplace_back("MAX");
    return items;
}

TItems Balance() {
    return {"RED+++", "RED++", "RED+", "RED", "MIDDLE", "BLUE", "BLUE+", "BLUE++", "BLUE+++"};
}

TItems OffOn() {
    return {"OFF", "ON"};
}

TItems AutoFix() {
    return {"AUTO", "FIX"};
}

// "OFF", then the 64 position numbers.
TItems LoadItems() {
    static const std::vector<std::string> numbers = [] {
        std::vector<std::string> n;
        for (int i = 1; i <= 64; ++i) {
            n.push_back(std::to_string(i));
        }
        return n;
    }();
    TItems items{"OFF"};
    items.insert(items.end(), numbers.begin(), numbers.end());
    return items;
}

// A radio group whose index goes out in byte 4.
TSetting Pick(std::string_view id, std::string_view caption, TItems items, uint8_t group, int item,
              int replyByte) {
    TSetting s;
    s.Id = id;
    s.Caption = caption;
    s.Name = caption;
    s.Kind = TSettingKind::Choice;
    s.Items = std::move(items);
    s.Max = static_cast<int32_t>(s.Items.size()) - 1;
    s.Group = group;
    s.Item = item;
    s.Encoding = TEncoding::Byte;
    s.ReplyByte = replyByte;
    s.ClampToLast = true;
    return s;
}

TSetting Named(TSetting s, std::string_view name) {
    s.Name = name;
    return s;
}

TSetting AnAction(TSetting s) {
    s.Action = true;
    return s;
}

// A check box: 1 or 0; a reply byte other than 1 reads as off.
TSetting Check(std::string_view id, std::string_view caption, uint8_t group, int item,
               int replyByte) {
    TSetting s = Pick(id, caption, OffOn(), group, item, replyByte);
    s.Kind = TSettingKind::Switch;
    s.Encoding = TEncoding::Flag;
    s.ClampToLast = false;
    return s;
}

TSetting Number(std::string_view id, std::string_view caption, int32_t max, uint8_t group, int item,
                int replyByte) {
    TSetting s = Pick(id, caption, {}, group, item, replyByte);
    s.Kind = TSettingKind::Number;
    s.Max = max;
    s.ClampToLast = false;
    return s;
}

TSetting Step(std::string_view id, std::string_view caption, uint8_t group, int item,
              int replyByte) {
    TSetting s = Number(id, caption, 9999, group, item, replyByte);
    s.Kind = TSettingKind::Step;
    s.Min = -999;
    s.Encoding = TEncoding::Word;
    s.PayloadLength = 5;
    return s;
}

// A lens motion or the one-push focus: byte 4 is 0. The stops and the
// one-push focus have no control of their own.
TSetting Motion(std::string_view id, std::string_view caption, std::string_view name, int item) {
    TSetting s = Pick(id, caption, {}, kGroupLens, item, -1);
    s.Name = name;
    s.Kind = TSettingKind::Command;
    s.Max = 0;
    s.Encoding = TEncoding::None;
    s.ClampToLast = false;
    s.Action = true;
    return s;
}

TSetting Area(std::string_view id, std::string_view caption, uint8_t group) {
    TSetting s = Pick(id, caption, {}, group, 0x02, 7);
    s.Kind = TSettingKind::Area;
    s.Max = 0;
    s.Encoding = TEncoding::Mask;
    s.PayloadLength = 9;
    s.ClampToLast = false;
    return s;
}

// A field of the position record: in the save command and in a record reply
// alike, at bytes 5 ... 10.
TSetting Field(TSetting s, int bit, int bits) {
    s.Item = -1;
    s.ReplyBit = bit;
    s.ReplyBits = bits;
    s.ReplyForm = kNonZeroForm;
    return s;
}

TSetting General(TSetting s) {
    s.ReplyForm = 0;
    return s;
}

std::vector<TSetting> BuildSettings() {
    std::vector<TSetting> all;
    const auto add = [&all](TSetting s) { all.push_back(std::move(s)); };

    TSetting title = Pick("title.text", "", {}, kGroupTitle, kItemTitleText, 5);
    title.Name = "Title";
    title.Kind = TSettingKind::Text;
    title.Max = kTitleLength;
    title.Encoding = TEncoding::TitlePart;
    title.PayloadLength = 14;
    title.ReplyForm = kItemTitleText;
    title.ClampToLast = false;
    add(title);
    TSetting display = Pick("title.display", "Display", OffOn(), kGroupTitle, kItemTitleDisplay, 5);
    display.ReplyForm = kItemTitleDisplay;
    add(display);
    // The position is set with item 3 but read from byte 6 of the display reply.
    TSetting position = Pick("title.position", "Position", {"UP", "DOWN"}, kGroupTitle, 0x03, 6);
    position.ReplyForm = kItemTitleDisplay;
    add(Named(position, "Title Position"));

    add(Motion("lens.wide", "Wide", "Wide", 0x00));
    add(Motion("lens.tele", "Tele", "Tele", 0x01));
    add(Motion("lens.zoom_stop", "", "Zoom stop", 0x02));
    add(Motion("lens.near", "Near", "Near", 0x03));
    add(Motion("lens.far", "Far", "Far", 0x04));
    add(Motion("lens.focus_stop", "", "Focus stop", 0x05));
    // Read back in the order of the reply's bytes.
    add(Named(Step("lens.zoom_step", "", kGroupLens, 0x0A, 5), "Zoom step"));
    add(Named(Step("lens.focus_step", "", kGroupLens, 0x0B, 7), "Focus step"));
    add(Check("lens.digital_zoom", "Digital Zoom", kGroupLens, 0x08, 9));
    add(Check("lens.auto_focus", "Auto Focus", kGroupLens, 0x09, 10));
    // Setting a position moves the lens.
    add(AnAction(
        Named(Number("lens.zoom_position", "", 255, kGroupLens, 0x06, 11), "Zoom position")));
    add(AnAction(
        Named(Number("lens.focus_position", "", 255, kGroupLens, 0x07, 12), "Focus position")));
    add(Check("lens.af_tracking", "AF after Tracking", kGroupLens, 0x0D, -1));
    add(Motion("lens.one_push", "", "One-push focus", 0x0E));

    // The priority is item 4 although it is the first byte of the reply.
    add(Pick("agc.priority", "Priority", {"AGC", "SENS"}, kGroupAgc, 0x04, 5));
    add(Pick("agc.agc_level", "AGC Level", Levels("BASE", 7), kGroupAgc, 0x01, 6));
    add(Pick("agc.sens_level", "SENS Level",
             {"OFF", "x2", "x4", "x6", "x8", "x12", "x16", "x32", "x64"}, kGroupAgc, 0x02, 7));

    add(Named(Pick("alc.alc", "", AutoFix(), kGroupAlc, 0x00, 5), "ALC"));
    add(Named(Pick("alc.alc_auto_level", "AUTO Level", Levels("MIN", 7), kGroupAlc, 0x01, 6),
              "ALC AUTO Level"));
    add(Named(Pick("alc.alc_fix_level", "FIX Level", Levels("MIN", 7), kGroupAlc, 0x02, 7),
              "ALC FIX Level"));
    add(Named(Pick("alc.aes", "", AutoFix(), kGroupAlc, 0x03, 8), "AES"));
    add(Named(Pick("alc.aes_auto_level", "AUTO Level", Levels("MIN", 7), kGroupAlc, 0x04, 9),
              "AES AUTO Level"));
    add(Named(Pick("alc.aes_fix_level", "FIX Level",
                   {"OFF", "1/100", "1/250", "1/500", "1/1000", "1/2000", "1/4000", "1/10000"},
                   kGroupAlc, 0x05, 10),
              "AES FIX Level"));

    add(Pick("blc.blc", "BLC", OffOn(), kGroupBlc, 0x00, 5));
    add(Pick("blc.level", "BLC Level", Levels("MIN", 6), kGroupBlc, 0x01, 6));
    add(Area("blc.area", "BLC Area", kGroupBlc));

    add(Pick("colour.white_balance", "White Balance", {"AUTO", "ONE PUSH"}, kGroupColour, 0x00, 5));
    add(Pick("colour.auto_level", "Auto Level", Balance(), kGroupColour, 0x01, 6));
    add(Pick("colour.one_push_level", "ONE PUSH Level", Balance(), kGroupColour, 0x02, 7));
    add(Pick("colour.ry_gain", "R-Y Gain", Levels("MIN", 7), kGroupColour, 0x03, 8));
    add(Pick("colour.by_gain", "B-Y Gain", Levels("MIN", 7), kGroupColour, 0x04, 9));

    add(Pick("aperture.h_gain", "H-Gain", Levels("MIN", 11), kGroupAperture, 0x00, 5));
    add(Pick("aperture.v_gain", "V-Gain", Levels("MIN", 11), kGroupAperture, 0x01, 6));

    add(Pick("motion.detection", "Detection", OffOn(), kGroupMotion, 0x00, 5));
    add(Pick("motion.level", "Motion Level", Levels("MIN", 8), kGroupMotion, 0x01, 6));
    add(Area("motion.area", "Motion Area", kGroupMotion));
    add(Pick("motion.time", "Motion Time", {"10sec", "30sec", "60sec"}, kGroupMotion, 0x03, 13));
    add(Named(Pick("motion.osd", "OSD", OffOn(), kGroupMotion, 0x04, 14), "Motion OSD"));

    // "OFF" recalls nothing: only 1 ... 64 go out.
    TSetting load =
        General(Pick("position.load", "Position Load", LoadItems(), kGroupPosition, 0x02, 5));
    load.Min = 1;
    add(AnAction(load));
    // The save number has no command of its own: it goes with save and read.
    add(General(Number("position.save_number", "Position Save", 100, kGroupPosition, -1, 6)));
    add(General(Number("position.alarm", "Alarm Position", 100, kGroupPosition, 0x03, 7)));
    add(Named(Check("position.osd", "OSD", kGroupPosition, 0x09, -1), "Position OSD"));
    add(Named(Field(Step("position.zoom", "Zoom", kGroupPosition, -1, 5), -1, 16), "Record Zoom"));
    add(Named(Field(Step("position.focus", "Focus", kGroupPosition, -1, 7), -1, 16),
              "Record Focus"));
    add(Named(Field(Pick("position.alc", "ALC", AutoFix(), kGroupPosition, -1, 9), 0, 1),
              "Record ALC"));
    add(Named(Field(Pick("position.aes", "AES", AutoFix(), kGroupPosition, -1, 9), 1, 1),
              "Record AES"));
    add(Named(Field(Pick("position.blc", "BLC", OffOn(), kGroupPosition, -1, 9), 2, 1),
              "Record BLC"));
    add(Named(Field(Pick("position.wb", "W.B.", {"ATW", "AWB"}, kGroupPosition, -1, 9), 3, 1),
              "Record W.B."));
    add(Named(
        Field(Pick("position.agc_level", "AGC Lv", Levels("BASE", 7), kGroupPosition, -1, 9), 4, 4),
        "Record AGC Lv"));
    add(Named(
        Field(Pick("position.alc_level", "ALC Lv", Levels("MIN", 7), kGroupPosition, -1, 10), 0, 4),
        "Record ALC Lv"));
    add(Named(Field(Pick("position.wb_level", "WB Lv", Balance(), kGroupPosition, -1, 10), 4, 4),
              "Record WB Lv"));
    // Writes a camera memory: a backup restores memories whole, not this.
    TSetting save = Number("position.save", "Save", 100, kGroupPosition, 0x01, -1);
    save.Kind = TSettingKind::Record;
    save.Encoding = TEncoding::Record;
    save.PayloadLength = 10;
    add(AnAction(save));

    add(AnAction(Pick("other.preset", "Preset", {"CANCEL", "OK"}, kGroupOther, 0x00, 5)));
    add(AnAction(Pick("other.initial", "Initial", OffOn(), kGroupOther, 0x01, 6)));
    add(Pick("other.h_reverse", "H-Revers", OffOn(), kGroupOther, 0x02, 7));
    add(Pick("other.v_reverse", "V-Revers", OffOn(), kGroupOther, 0x03, 8));
    add(Pick("other.negative", "Negative", OffOn(), kGroupOther, 0x04, 9));
    add(Named(Pick("other.phase", "", OffOn(), kGroupOther, 0x05, 10), "Phase"));
    // Level and offset go out as one number; the reply gives it back as an
    // item index, the offset not taken off.
    TSetting level = Pick("other.phase_level", "Level", Levels("MIN", 14), kGroupOther, 0x06, 11);
    level.Kind = TSettingKind::Number;
    level.Max = 115;
    add(Named(level, "Phase Level"));
    return all;
}

struct TPageRow {
    std::string_view id;
    std::string_view caption;
    uint8_t group;
    uint8_t queryItem;
};

// Tab order.
constexpr TPageRow kPageRows[] = {
    {"title", "C.ID", kGroupTitle, kItemTitleText},
    {"lens", "Len", kGroupLens, 0},
    {"agc", "AGC", kGroupAgc, 0},
    {"alc", "ALC", kGroupAlc, 0},
    {"blc", "BLC", kGroupBlc, 0},
    {"colour", "Col", kGroupColour, 0},
    {"aperture", "Ape", kGroupAperture, 0},
    {"motion", "Mot", kGroupMotion, 0},
    {"position", "Pos", kGroupPosition, 0},
    {"other", "Oth", kGroupOther, 0},
};

std::vector<TPageDef> BuildPages() {
    std::vector<TPageDef> pages;
    for (const TPageRow& row : kPageRows) {
        TPageDef p;
        p.Id = row.id;
        p.Caption = row.caption;
        p.Group = row.group;
        p.Query = {kQuery, row.group, row.queryItem, 0x00};
        for (const TSetting& s : CatalogueSettings()) {
            if (s.Group == row.group) {
                p.Settings.push_back(&s);
            }
        }
        pages.push_back(std::move(p));
    }
    return pages;
}

bool SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view Trimmed(std::string_view t) {
    while (!t.empty() && std::isspace(static_cast<unsigned char>(t.front())) != 0) {
        t.remove_prefix(1);
    }
    while (!t.empty() && std::isspace(static_cast<unsigned char>(t.back())) != 0) {
        t.remove_suffix(1);
    }
    return t;
}

std::string Label(const TSetting& s) {
    return std::string(s.Name.empty() ? s.Caption : s.Name);
}

bool ParseInt(std::string_view t, int32_t& v) {
    if (!t.empty() && t.front() == '+') {
        t.remove_prefix(1);
        if (!t.empty() && t.front() == '-') {
            return false;
        }
    }
    const char* end = t.data() + t.size();
    const auto [p, ec] = std::from_chars(t.data(), end, v);
    return !t.empty() && ec == std::errc() && p == end;
}

// Twelve hexadecimal digits, spaces allowed between bytes.
bool ParseMask(std::string_view t, std::array<uint8_t, 6>& mask) {
    std::string digits;
    for (char c : t) {
        if (c != ' ') {
            digits += c;
        }
    }
    if (digits.size() != 2 * mask.size()) {
        return false;
    }
    for (size_t i = 0; i < mask.size(); ++i) {
        const char* first = digits.data() + 2 * i;
        const auto [p, ec] = std::from_chars(first, first + 2, mask[i], 16);
        if (ec != std::errc() || p != first + 2) {
            return false;
        }
    }
    return true;
}

// The signs a title may hold besides letters, digits and the space.
std::string TitleSigns() {
    std::string signs;
    for (const TSign& s : kSigns) {
        if (s.ch != ' ') {
            signs += s.ch;
        }
    }
    return signs;
}

int16_t Word(const uint8_t* b) {
    return static_cast<int16_t>(static_cast<uint16_t>(b[0] << 8 | b[1]));
}

// Five title characters from five codes, high byte first.
std::string TitleChars(const uint8_t* codes) {
    std::string out;
    for (size_t i = 0; i < static_cast<size_t>(kTitlePartLength); ++i) {
        out += TitleCharOf(static_cast<uint16_t>(codes[2 * i] << 8 | codes[2 * i + 1]));
    }
    return out;
}

// Which replies carry the setting: reply byte 3 picks the form. The position
// page reads the general state from every answer to a set command; the title
// and gain pages read nothing from such an answer, so it carries nothing.
bool InForm(const TSetting& s, const uint8_t* r, uint8_t requestKind) {
    if (requestKind != kQuery && (s.Group == kGroupTitle || s.Group == kGroupAgc)) {
        return false;
    }
    if (s.ReplyForm == kAnyForm) {
        return true;
    }
    const int form = (s.Group == kGroupPosition && requestKind != kQuery) ? 0 : r[3];
    if (s.ReplyForm == kNonZeroForm) {
        return form != 0;
    }
    return form == s.ReplyForm;
}

// The value at a setting's place, in a reply or in a save command's record.
TValue ValueAt(const TSetting& s, const uint8_t* r) {
    TValue v;
    const uint8_t* at = r + s.ReplyByte;
    switch (s.Kind) {
        case TSettingKind::Step:
            v.Number = Word(at);
            break;
        case TSettingKind::Area:
            std::copy(at, at + 6, v.Area.begin());
            break;
        case TSettingKind::Text:
            v.Number = r[4];
            v.Text = TitleChars(at);
            break;
        case TSettingKind::Switch:
            v.Number = *at == 1 ? 1 : 0;
            break;
        default: {
            uint32_t field = *at;
            if (s.ReplyBit >= 0) {
                field = (field >> s.ReplyBit) & ((1u << s.ReplyBits) - 1);
            }
            v.Number = static_cast<int32_t>(field);
            const auto last = static_cast<int32_t>(s.Items.size()) - 1;
            if (s.ClampToLast && v.Number > last) {
                v.Number = last;
            }
            break;
        }
    }
    return v;
}

// "Zoom 0123, Focus -001, ALC FIX, ..." from bytes laid out as in a record reply.
std::vector<std::string> RecordTexts(const uint8_t* r) {
    std::vector<std::string> parts;
    for (const TSetting* f : CatalogueRecordFields()) {
        parts.push_back(std::string(f->Caption) + " " + ValueText(*f, ValueAt(*f, r)));
    }
    return parts;
}

std::string GroupText(uint8_t group) {
    const TPageDef* page = PageOfGroup(group);
    return page != nullptr ? std::string(page->Caption) : "group " + ByteToHex(group);
}

// Frame bytes from 4 on, without the zeros that end them.
std::string ArgumentsText(const uint8_t* frame) {
    size_t end = 16;
    while (end > 4 && frame[end - 1] == 0) {
        --end;
    }
    return end > 4 ? BytesToHex(frame + 4, end - 4, " ") : "00";
}

std::string QueryText(uint8_t group, const uint8_t* f) {
    const uint8_t item = f[3];
    if (group == kGroupTitle && item == kItemTitleText) {
        return "query title part " + std::to_string(f[4]);
    }
    if (group == kGroupTitle && item == kItemTitleDisplay) {
        return "query display and position";
    }
    if (group == kGroupPosition && item == kItemReadRecord) {
        return "read record " + std::to_string(f[4]);
    }
    if (group == kGroupPosition && item == kItemReadCurrent) {
        return "read current settings (number " + std::to_string(f[4]) + ")";
    }
    if (item == 0 && PageOfGroup(group) != nullptr) {
        return "query";
    }
    return "query item " + ByteToHex(item) + " " + ArgumentsText(f);
}

std::string SetText(const TSetting& s, const uint8_t* f) {
    TValue v;
    switch (s.Encoding) {
        case TEncoding::None:
            return Label(s);
        case TEncoding::Byte:
        case TEncoding::Flag:
            v.Number = f[4];
            break;
        case TEncoding::Word:
            v.Number = Word(f + 4);
            break;
        case TEncoding::Mask:
            std::copy(f + 4, f + 10, v.Area.begin());
            break;
        case TEncoding::TitlePart:
            return Label(s) + " part " + std::to_string(f[4]) + " := \"" + TitleChars(f + 5) + "\"";
        case TEncoding::Record:
            return Label(s) + " " + std::to_string(f[4]) + " := " + JoinTexts(RecordTexts(f), ", ");
    }
    return Label(s) + " := " + ValueText(s, v);
}

}  // namespace

size_t ReplyWidth(const TSetting& s) {
    switch (s.Kind) {
        case TSettingKind::Step:
            return 2;
        case TSettingKind::Area:
            return 6;
        case TSettingKind::Text:
            return 2 * static_cast<size_t>(kTitlePartLength);
        default:
            return 1;
    }
}

const std::vector<TSetting>& CatalogueSettings() {
    static const std::vector<TSetting> settings = BuildSettings();
    return settings;
}

const std::vector<const TSetting*>& CatalogueRecordFields() {
    static const std::vector<const TSetting*> fields = [] {
        std::vector<const TSetting*> f;
        for (const TSetting& s : CatalogueSettings()) {
            if (s.ReplyForm == kNonZeroForm) {
                f.push_back(&s);
            }
        }
        return f;
    }();
    return fields;
}

const std::vector<TPageDef>& CataloguePages() {
    static const std::vector<TPageDef> pages = BuildPages();
    return pages;
}

// The pages enable their level groups by the same rules.
const std::vector<TInterlock>& CatalogueInterlocks() {
    static const std::vector<TInterlock> interlocks = {
        {"alc.alc", {"alc.alc_auto_level"}, {"alc.alc_fix_level"}},
        {"alc.aes", {"alc.aes_auto_level"}, {"alc.aes_fix_level"}},
        {"blc.blc", {}, {"blc.level", "blc.area"}},
        {"colour.white_balance", {"colour.auto_level"}, {"colour.one_push_level"}},
        {"motion.detection", {}, {"motion.level", "motion.area", "motion.time"}},
        {"other.phase", {}, {"other.phase_level"}},
    };
    return interlocks;
}

const TPageDef* FindPage(std::string_view idOrCaption) {
    for (const TPageDef& p : CataloguePages()) {
        if (SameText(p.Id, idOrCaption) || SameText(p.Caption, idOrCaption)) {
            return &p;
        }
    }
    return nullptr;
}

const TPageDef* PageOfGroup(uint8_t group) {
    for (const TPageDef& p : CataloguePages()) {
        if (p.Group == group) {
            return &p;
        }
    }
    return nullptr;
}

const TSetting* FindSetting(std::string_view id) {
    for (const TSetting& s : CatalogueSettings()) {
        if (s.Id == id) {
            return &s;
        }
    }
    return nullptr;
}

const TSetting* LookupSetting(std::string_view id, std::string& error) {
    if (const TSetting* s = FindSetting(id)) {
        return s;
    }
    // Name the settings of the page the identifier starts with, or the pages.
    const std::string_view page = id.substr(0, id.find('.'));
    std::vector<std::string> known;
    if (const TPageDef* p = FindPage(page)) {
        for (const TSetting* s : p->Settings) {
            known.emplace_back(s->Id);
        }
        error = "unknown setting \"" + std::string(id) + "\"; " + std::string(p->Id) +
                " has: " + JoinTexts(known, ", ");
    } else {
        for (const TPageDef& each : CataloguePages()) {
            known.emplace_back(each.Id);
        }
        error = "unknown setting \"" + std::string(id) +
                "\"; settings are named page.setting, pages: " + JoinTexts(known, ", ");
    }
    return nullptr;
}

const TSetting* SettingOfItem(uint8_t group, uint8_t item) {
    for (const TSetting& s : CatalogueSettings()) {
        if (s.Group == group && s.Item == item) {
            return &s;
        }
    }
    return nullptr;
}

std::string ValueText(const TSetting& s, const TValue& v) {
    switch (s.Kind) {
        case TSettingKind::Choice:
        case TSettingKind::Switch:
            if (v.Number >= 0 && static_cast<size_t>(v.Number) < s.Items.size()) {
                return std::string(s.Items[static_cast<size_t>(v.Number)]);
            }
            return std::to_string(v.Number);
        case TSettingKind::Number:
            return std::to_string(v.Number);
        case TSettingKind::Step:
            // Outside the range the four characters stand for another value
            // (10000 and -1000 both show as -000): give the number itself.
            if (v.Number < s.Min || v.Number > s.Max) {
                return std::to_string(v.Number);
            }
            return FormatSigned4(static_cast<int16_t>(v.Number));
        case TSettingKind::Area:
            return BytesToHex(v.Area.data(), v.Area.size());
        case TSettingKind::Text:
            return v.Text;
        case TSettingKind::Command:
            return {};
        case TSettingKind::Record:
            return std::to_string(v.Number) + " " + BytesToHex(v.Area.data(), v.Area.size());
    }
    return {};
}

bool ParseValue(const TSetting& s, std::string_view text, TValue& v, std::string& error) {
    const std::string label = Label(s);
    const std::string quoted = "\"" + std::string(text) + "\"";
    const std::string range = std::to_string(s.Min) + " ... " + std::to_string(s.Max);
    const std::string_view t = s.Kind == TSettingKind::Text ? text : Trimmed(text);
    TValue out;
    switch (s.Kind) {
        case TSettingKind::Choice:
        case TSettingKind::Switch: {
            const auto it = std::find_if(s.Items.begin(), s.Items.end(),
                                         [t](std::string_view item) { return SameText(item, t); });
            if (it == s.Items.end()) {
                std::vector<std::string> items(s.Items.begin(), s.Items.end());
                error = label + ": no item " + quoted + "; one of: " + JoinTexts(items, ", ");
                return false;
            }
            out.Number = static_cast<int32_t>(it - s.Items.begin());
            if (out.Number < s.Min || out.Number > s.Max) {
                error = label + ": " + quoted + " is shown but cannot be set";
                return false;
            }
            break;
        }
        case TSettingKind::Number:
            if (!ParseInt(t, out.Number) || out.Number < s.Min || out.Number > s.Max) {
                error = label + ": " + quoted + " is not a whole number in " + range;
                return false;
            }
            break;
        case TSettingKind::Step:
            if (IsSigned4(t)) {
                out.Number = static_cast<int16_t>(ParseSigned4(t) & 0xFFFF);
            } else if (!ParseInt(t, out.Number) || out.Number < s.Min || out.Number > s.Max) {
                error = label + ": " + quoted + " is neither four characters (0000 ... 9999, " +
                        "-001 ... -999) nor a whole number in " + range;
                return false;
            }
            break;
        case TSettingKind::Area:
            if (!ParseMask(t, out.Area)) {
                error = label + ": " + quoted +
                        " is not twelve hexadecimal digits, one byte per row, top row first";
                return false;
            }
            break;
        case TSettingKind::Text:
            if (t.size() > static_cast<size_t>(kTitleLength)) {
                error = label + ": " + quoted + " is longer than " + std::to_string(kTitleLength) +
                        " characters";
                return false;
            }
            if (const auto bad = std::find_if(
                    t.begin(), t.end(),
                    [](char c) { return TitleCharTable[static_cast<uint8_t>(c)] == kNoTitleCode; });
                bad != t.end()) {
                error = label + ": the camera has no character for byte " +
                        ByteToHex(static_cast<uint8_t>(*bad)) + " in " + quoted +
                        "; letters, digits, space and " + TitleSigns() + " are allowed";
                return false;
            }
            out.Text = std::string(t);
            break;
        case TSettingKind::Command:
            if (!t.empty()) {
                error = label + " takes no value, not " + quoted;
                return false;
            }
            break;
        case TSettingKind::Record: {
            const size_t space = t.find(' ');
            if (space == std::string_view::npos || !ParseInt(t.substr(0, space), out.Number) ||
                out.Number < s.Min || out.Number > s.Max ||
                !ParseMask(t.substr(space + 1), out.Area)) {
                error = label + ": " + quoted + " is not a number in " + range +
                        " and twelve hexadecimal digits of the record";
                return false;
            }
            break;
        }
    }
    v = std::move(out);
    return true;
}

std::vector<uint8_t> EncodeSet(const TSetting& s, const TValue& v) {
    if (s.Item < 0) {
        return {};
    }
    std::vector<uint8_t> p{kSet, s.Group, static_cast<uint8_t>(s.Item)};
    const auto inRange = [&] { return v.Number >= s.Min && v.Number <= s.Max; };
    switch (s.Encoding) {
        case TEncoding::None:
            p.push_back(0x00);
            break;
        case TEncoding::Byte:
            if (!inRange()) {
                return {};
            }
            p.push_back(static_cast<uint8_t>(v.Number));
            break;
        case TEncoding::Flag:
            p.push_back(v.Number != 0 ? 1 : 0);
            break;
        case TEncoding::Word: {
            // A step goes as its 16-bit two's complement, whatever its form.
            const auto w = static_cast<uint16_t>(v.Number);
            p.push_back(static_cast<uint8_t>(w >> 8));
            p.push_back(static_cast<uint8_t>(w & 0xFF));
            break;
        }
        case TEncoding::Mask:
            p.insert(p.end(), v.Area.begin(), v.Area.end());
            break;
        case TEncoding::TitlePart: {
            if (v.Number < 0 || v.Number >= kTitleParts) {
                return {};
            }
            p.push_back(static_cast<uint8_t>(v.Number));
            for (int i = 0; i < kTitlePartLength; ++i) {
                const auto q =
                    static_cast<size_t>(kTitlePartLength) * static_cast<size_t>(v.Number) +
                    static_cast<size_t>(i);
                const uint16_t code =
                    q < v.Text.size() ? TitleCodeOf(static_cast<uint8_t>(v.Text[q])) : kTitleSpace;
                p.push_back(static_cast<uint8_t>(code >> 8));
                p.push_back(static_cast<uint8_t>(code & 0xFF));
            }
            break;
        }
        case TEncoding::Record:
            if (!inRange()) {
                return {};
            }
            p.push_back(static_cast<uint8_t>(v.Number));
            p.insert(p.end(), v.Area.begin(), v.Area.end());
            break;
    }
    return p;
}

void PackRecordField(const TSetting& field, const TValue& v, std::array<uint8_t, 6>& record) {
    if (field.ReplyForm != kNonZeroForm || field.ReplyByte < 5 || field.ReplyByte > 10) {
        return;
    }
    const auto at = static_cast<size_t>(field.ReplyByte - 5);
    if (field.Kind == TSettingKind::Step) {
        if (at + 1 < record.size()) {
            const auto w = static_cast<uint16_t>(v.Number);
            record[at] = static_cast<uint8_t>(w >> 8);
            record[at + 1] = static_cast<uint8_t>(w & 0xFF);
        }
        return;
    }
    const uint32_t mask = ((1u << field.ReplyBits) - 1) << field.ReplyBit;
    const uint32_t bits = (static_cast<uint32_t>(v.Number) << field.ReplyBit) & mask;
    record[at] = static_cast<uint8_t>((record[at] & ~mask) | bits);
}

std::vector<TDecoded> DecodeReply(const uint8_t* reply, size_t n, uint8_t requestKind) {
    std::vector<TDecoded> out;
    if (reply == nullptr || n < 4 || reply[1] != kDataReply) {
        return out;
    }
    const TPageDef* page = PageOfGroup(reply[2]);
    if (page == nullptr) {
        return out;
    }
    for (const TSetting* s : page->Settings) {
        if (s->ReplyByte < 0 || static_cast<size_t>(s->ReplyByte) + ReplyWidth(*s) > n ||
            !InForm(*s, reply, requestKind)) {
            continue;
        }
        out.push_back({s, ValueAt(*s, reply)});
    }
    return out;
}

std::string DescribeCommand(const uint8_t* frame, size_t n) {
    if (frame == nullptr || n != static_cast<size_t>(kFrameSize) || frame[0] != kSTX ||
        frame[16] != kETX) {
        return DescribeMalformed(frame, n);
    }
    uint8_t sum = 0;
    for (size_t i = 0; i < n; ++i) {
        sum = static_cast<uint8_t>(sum + frame[i]);
    }
    if (sum != 0) {
        return "malformed: checksum " + ByteToHex(frame[17]) + ", should be " +
               ByteToHex(static_cast<uint8_t>(frame[17] - sum));
    }
    const uint8_t group = frame[2];
    const std::string where = GroupText(group) + " · ";
    if (frame[1] == kQuery) {
        return where + QueryText(group, frame);
    }
    if (frame[1] != kSet) {
        return where + "request kind " + ByteToHex(frame[1]) + " item " + ByteToHex(frame[3]) +
               " " + ArgumentsText(frame);
    }
    if (const TSetting* s = SettingOfItem(group, frame[3])) {
        return where + SetText(*s, frame);
    }
    return where + "item " + ByteToHex(frame[3]) + " := " + ArgumentsText(frame);
}

std::string DescribeReply(const uint8_t* reply, size_t n) {
    if (reply == nullptr || n < static_cast<size_t>(kReplyStored) ||
        n > static_cast<size_t>(kFrameSize) || reply[0] != kSTX || reply[16] != kETX) {
        return DescribeMalformed(reply, n);
    }
    const std::string body = BytesToHex(reply + 3, 13, " ");
    if (reply[1] != kDataReply) {
        return "reply kind " + ByteToHex(reply[1]) + " " + GroupText(reply[2]) + ": " + body;
    }
    if (PageOfGroup(reply[2]) == nullptr) {
        return "reply " + GroupText(reply[2]) + ": " + body;
    }
    std::vector<std::string> parts;
    for (const TDecoded& d : DecodeReply(reply, n)) {
        const std::string text = ValueText(*d.Setting, d.Value);
        if (d.Setting->Kind == TSettingKind::Text) {
            parts.push_back(Label(*d.Setting) + " part " + std::to_string(d.Value.Number) + " \"" +
                            text + "\"");
        } else {
            parts.push_back(Label(*d.Setting) + " " + text);
        }
    }
    if (parts.empty()) {
        return "reply " + GroupText(reply[2]) + ", unknown form: " + body;
    }
    return "reply " + GroupText(reply[2]) + ": " + JoinTexts(parts, ", ");
}

std::string DescribeControl(uint8_t b) {
    switch (b) {
        case kENQ:
            return "ENQ";
        case kACK:
            return "ACK";
        case kNAK:
            return "NAK";
        default:
            return "byte " + ByteToHex(b);
    }
}

std::string DescribeMalformed(const uint8_t* bytes, size_t n) {
    if (bytes == nullptr || n == 0) {
        return "malformed: no bytes";
    }
    if (bytes[0] != kSTX) {
        return "malformed: start byte " + ByteToHex(bytes[0]);
    }
    if (n > 16 && bytes[16] != kETX) {
        return "malformed: end byte " + ByteToHex(bytes[16]);
    }
    return "malformed: " + std::to_string(n) + " bytes";
}

}  // namespace zp
