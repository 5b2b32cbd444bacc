// The catalogue against the frames the pages send and the replies they read:
// encoding, decoding, value texts and descriptions, as tables.
#include "link/catalogue.h"

#include <gtest/gtest.h>

#include <set>

#include "link/camera_link.h"
#include "tests/support/frames.h"

namespace zp {
namespace {

using test::Bytes;
using test::Hex;

using test::Sealed;

// A reply as the parser stores it: start, bytes 1 ... 15, end.
Bytes Stored(const Bytes& payload) {
    Bytes r(kReplyStored, 0);
    r[0] = kSTX;
    std::copy(payload.begin(), payload.end(), r.begin() + 1);
    r[16] = kETX;
    return r;
}

const TSetting& Setting(std::string_view id) {
    const TSetting* s = FindSetting(id);
    if (s == nullptr) {
        throw std::runtime_error("no setting " + std::string(id));
    }
    return *s;
}

TEST(Catalogue, PagesInTabOrderWithTheirQueries) {
    struct Row {
        const char* id;
        const char* caption;
        uint8_t group;
        const char* wire;
    };
    const Row rows[] = {
        {"title", "C.ID", kGroupTitle, "02 31 10 01 00 00 00 00 00 00 00 00 00 00 00 00 03 B9"},
        {"lens", "Len", kGroupLens, "02 31 21 00 00 00 00 00 00 00 00 00 00 00 00 00 03 A9"},
        {"agc", "AGC", kGroupAgc, "02 31 1A 00 00 00 00 00 00 00 00 00 00 00 00 00 03 B0"},
        {"alc", "ALC", kGroupAlc, "02 31 48 00 00 00 00 00 00 00 00 00 00 00 00 00 03 82"},
        {"blc", "BLC", kGroupBlc, "02 31 18 00 00 00 00 00 00 00 00 00 00 00 00 00 03 B2"},
        {"colour", "Col", kGroupColour, "02 31 1B 00 00 00 00 00 00 00 00 00 00 00 00 00 03 AF"},
        {"aperture", "Ape", kGroupAperture,
         "02 31 47 00 00 00 00 00 00 00 00 00 00 00 00 00 03 83"},
        {"motion", "Mot", kGroupMotion, "02 31 23 00 00 00 00 00 00 00 00 00 00 00 00 00 03 A7"},
        {"position", "Pos", kGroupPosition,
         "02 31 52 00 00 00 00 00 00 00 00 00 00 00 00 00 03 78"},
        {"other", "Oth", kGroupOther, "02 31 54 00 00 00 00 00 00 00 00 00 00 00 00 00 03 76"},
    };
    const auto& pages = CataloguePages();
    ASSERT_EQ(pages.size(), std::size(rows));
    for (size_t i = 0; i < pages.size(); ++i) {
        const Row& r = rows[i];
        EXPECT_EQ(pages[i].Id, r.id);
        EXPECT_EQ(pages[i].Caption, r.caption);
        EXPECT_EQ(pages[i].Group, r.group) << r.id;
        EXPECT_EQ(Sealed({pages[i].Query.begin(), pages[i].Query.end()}), Hex(r.wire)) << r.id;
        EXPECT_EQ(FindPage(r.id), &pages[i]);
        EXPECT_EQ(FindPage(r.caption), &pages[i]);
        EXPECT_EQ(PageOfGroup(r.group), &pages[i]);
        EXPECT_FALSE(pages[i].Settings.empty()) << r.id;
    }
    EXPECT_EQ(FindPage("COL"), &pages[5]);
    EXPECT_EQ(FindPage("colr"), nullptr);
    EXPECT_EQ(PageOfGroup(0x7F), nullptr);
}

// Each set command from a value text: a full frame where the page tests spell
// one out, otherwise the payload from the page's item table.
struct EncodeRow {
    const char* id;
    const char* text;
    const char* expected;
    int part = 0;  // the title part, the position number
};

const EncodeRow kEncodeRows[] = {
    {"title.text", "CAM1", "02 21 10 01 00 00 12 00 10 00 1C 00 01 01 FE 00 03 8B", 0},
    {"title.text", "CAM1", "02 21 10 01 01 01 FE 01 FE 01 FE 01 FE 01 FE 00 03 CD", 1},
    {"title.text", "CAM1", "02 21 10 01 03 01 FE 01 FE 01 FE 01 FE 01 FE 00 03 CB", 3},
    {"title.text", "0123456789|{", "21 10 01 02 00 2F 01 31 01 FE 01 FE 01 FE", 2},
    {"title.display", "ON", "02 21 10 00 01 00 00 00 00 00 00 00 00 00 00 00 03 C9"},
    {"title.display", "OFF", "02 21 10 00 00 00 00 00 00 00 00 00 00 00 00 00 03 CA"},
    {"title.position", "DOWN", "02 21 10 03 01 00 00 00 00 00 00 00 00 00 00 00 03 C6"},
    {"lens.wide", "", "21 21 00 00"},
    {"lens.tele", "", "02 21 21 01 00 00 00 00 00 00 00 00 00 00 00 00 03 B8"},
    {"lens.zoom_stop", "", "02 21 21 02 00 00 00 00 00 00 00 00 00 00 00 00 03 B7"},
    {"lens.near", "", "21 21 03 00"},
    {"lens.far", "", "21 21 04 00"},
    {"lens.focus_stop", "", "21 21 05 00"},
    {"lens.zoom_position", "255", "21 21 06 FF"},
    {"lens.focus_position", "116", "21 21 07 74"},
    {"lens.digital_zoom", "ON", "21 21 08 01"},
    {"lens.auto_focus", "OFF", "21 21 09 00"},
    {"lens.zoom_step", "-001", "02 21 21 0A FF FF 00 00 00 00 00 00 00 00 00 00 03 B1"},
    {"lens.zoom_step", "0000", "21 21 0A 00 00"},
    {"lens.focus_step", "0001", "21 21 0B 00 01"},
    {"lens.af_tracking", "ON", "21 21 0D 01"},
    {"lens.one_push", "", "21 21 0E 00"},
    {"agc.priority", "SENS", "02 21 1A 04 01 00 00 00 00 00 00 00 00 00 00 00 03 BB"},
    {"agc.agc_level", "+3", "02 21 1A 01 03 00 00 00 00 00 00 00 00 00 00 00 03 BC"},
    {"agc.sens_level", "x64", "02 21 1A 02 08 00 00 00 00 00 00 00 00 00 00 00 03 B6"},
    {"alc.alc", "FIX", "02 21 48 00 01 00 00 00 00 00 00 00 00 00 00 00 03 91"},
    {"alc.alc_auto_level", "+4", "21 48 01 04"},
    {"alc.alc_fix_level", "MAX", "02 21 48 02 08 00 00 00 00 00 00 00 00 00 00 00 03 88"},
    {"alc.aes", "AUTO", "02 21 48 03 00 00 00 00 00 00 00 00 00 00 00 00 03 8F"},
    {"alc.aes_auto_level", "+2", "02 21 48 04 02 00 00 00 00 00 00 00 00 00 00 00 03 8C"},
    {"alc.aes_fix_level", "1/10000", "02 21 48 05 07 00 00 00 00 00 00 00 00 00 00 00 03 86"},
    {"blc.blc", "OFF", "02 21 18 00 00 00 00 00 00 00 00 00 00 00 00 00 03 C2"},
    {"blc.level", "+5", "02 21 18 01 05 00 00 00 00 00 00 00 00 00 00 00 03 BC"},
    {"blc.area", "010000000000", "02 21 18 02 01 00 00 00 00 00 00 00 00 00 00 00 03 BF"},
    {"blc.area", "00 01 00 00 00 00", "02 21 18 02 00 01 00 00 00 00 00 00 00 00 00 00 03 BF"},
    {"blc.area", "000000000080", "02 21 18 02 00 00 00 00 00 80 00 00 00 00 00 00 03 40"},
    {"blc.area", "FFFFFFFFFFFF", "02 21 18 02 FF FF FF FF FF FF 00 00 00 00 00 00 03 C6"},
    {"colour.white_balance", "ONE PUSH", "02 21 1B 00 01 00 00 00 00 00 00 00 00 00 00 00 03 BE"},
    {"colour.auto_level", "RED+", "02 21 1B 01 02 00 00 00 00 00 00 00 00 00 00 00 03 BC"},
    {"colour.one_push_level", "RED+++", "02 21 1B 02 00 00 00 00 00 00 00 00 00 00 00 00 03 BD"},
    {"colour.ry_gain", "MAX", "02 21 1B 03 08 00 00 00 00 00 00 00 00 00 00 00 03 B4"},
    {"colour.by_gain", "+1", "02 21 1B 04 01 00 00 00 00 00 00 00 00 00 00 00 03 BA"},
    {"aperture.h_gain", "MIN", "02 21 47 00 00 00 00 00 00 00 00 00 00 00 00 00 03 93"},
    {"aperture.v_gain", "+3", "02 21 47 01 03 00 00 00 00 00 00 00 00 00 00 00 03 8F"},
    {"motion.detection", "ON", "21 23 00 01"},
    {"motion.level", "MAX", "21 23 01 09"},
    {"motion.area", "010000000000", "02 21 23 02 01 00 00 00 00 00 00 00 00 00 00 00 03 B4"},
    {"motion.time", "60sec", "21 23 03 02"},
    {"motion.osd", "ON", "21 23 04 01"},
    {"position.load", "64", "21 52 02 40"},
    {"position.alarm", "7", "21 52 03 07"},
    {"position.osd", "ON", "21 52 09 01"},
    {"position.save", "3 007BFFFF2D48", "02 21 52 01 03 00 7B FF FF 2D 48 00 00 00 00 00 03 96"},
    {"other.preset", "OK", "21 54 00 01"},
    {"other.initial", "ON", "21 54 01 01"},
    {"other.h_reverse", "ON", "21 54 02 01"},
    {"other.v_reverse", "OFF", "21 54 03 00"},
    {"other.negative", "ON", "21 54 04 01"},
    {"other.phase", "ON", "21 54 05 01"},
    {"other.phase_level", "8", "02 21 54 06 08 00 00 00 00 00 00 00 00 00 00 00 03 78"},
    {"other.phase_level", "115", "21 54 06 73"},
};

TEST(Catalogue, EncodeSetGivesThePagesFrames) {
    for (const EncodeRow& r : kEncodeRows) {
        const TSetting& s = Setting(r.id);
        TValue v;
        std::string error;
        ASSERT_TRUE(ParseValue(s, r.text, v, error)) << r.id << ": " << error;
        if (s.Kind == TSettingKind::Text) {
            v.Number = r.part;
        }
        const Bytes payload = EncodeSet(s, v);
        EXPECT_EQ(static_cast<int>(payload.size()), s.PayloadLength) << r.id;
        const Bytes expected = Hex(r.expected);
        if (expected.size() == static_cast<size_t>(kFrameSize)) {
            EXPECT_EQ(Sealed(payload), expected) << r.id << " " << r.text;
        } else {
            EXPECT_EQ(payload, expected) << r.id << " " << r.text;
        }
    }
}

TEST(Catalogue, EverySetCommandHasARow) {
    std::set<std::string_view> covered;
    for (const EncodeRow& r : kEncodeRows) {
        covered.insert(r.id);
    }
    for (const TSetting& s : CatalogueSettings()) {
        if (s.Item >= 0) {
            EXPECT_EQ(covered.count(s.Id), 1u) << s.Id;
        }
        EXPECT_EQ(FindSetting(s.Id), &s) << "identifiers are unique: " << s.Id;
    }
}

TEST(Catalogue, ValuesThatCannotBeSentEncodeNothing) {
    const std::pair<const char*, int32_t> rows[] = {
        {"position.load", 0},    // "OFF" recalls nothing
        {"colour.ry_gain", -1},  // no item chosen
        {"colour.ry_gain", 9},  {"other.phase_level", 116},
        {"title.text", 4},      {"position.zoom", 5},  // no command of its own
    };
    for (const auto& [id, number] : rows) {
        TValue v;
        v.Number = number;
        EXPECT_TRUE(EncodeSet(Setting(id), v).empty()) << id << " " << number;
    }
}

// The save frame's record from the page's fields, packed one by one.
TEST(Catalogue, RecordFieldsPackIntoTheSaveFrame) {
    const std::pair<const char*, const char*> fields[] = {
        {"position.zoom", "0123"},       {"position.focus", "-001"},
        {"position.alc", "FIX"},         {"position.aes", "AUTO"},
        {"position.blc", "ON"},          {"position.wb", "AWB"},
        {"position.agc_level", "+2"},    {"position.alc_level", "MAX"},
        {"position.wb_level", "MIDDLE"},
    };
    TValue save;
    save.Number = 3;
    save.Area.fill(0xFF);  // every field is overwritten, whatever was there
    for (const auto& [id, text] : fields) {
        TValue v;
        std::string error;
        ASSERT_TRUE(ParseValue(Setting(id), text, v, error)) << error;
        PackRecordField(Setting(id), v, save.Area);
    }
    EXPECT_EQ(Sealed(EncodeSet(Setting("position.save"), save)),
              Hex("02 21 52 01 03 00 7B FF FF 2D 48 00 00 00 00 00 03 96"));
}

// What DecodeReply gives, as "id=text" joined by "; "; a title part as
// "id=part:text".
std::string Decoded(const Bytes& reply, uint8_t requestKind = kQuery) {
    std::string out;
    for (const TDecoded& d : DecodeReply(reply.data(), reply.size(), requestKind)) {
        out += out.empty() ? "" : "; ";
        out += std::string(d.Setting->Id) + "=";
        if (d.Setting->Kind == TSettingKind::Text) {
            out += std::to_string(d.Value.Number) + ":";
        }
        out += ValueText(*d.Setting, d.Value);
    }
    return out;
}

TEST(Catalogue, DecodeReplyReadsWhatThePagesRead) {
    struct Row {
        const char* name;
        Bytes reply;
        uint8_t requestKind;
        const char* expected;
    };
    const Row rows[] = {
        {"title part", Stored(Hex("A0 10 01 00 00 12 00 10 00 1C 00 01 01 FE")), kQuery,
         "title.text=0:CAM1 "},
        {"title signs", Stored(Hex("A0 10 01 01 00 0A FF FF 12 34 00 2F 01 31")), kQuery,
         "title.text=1:   |{"},
        {"title display, past the last item", Stored(Hex("A0 10 00 00 01 07")), kQuery,
         "title.display=ON; title.position=DOWN"},
        {"title, unknown form", Stored(Hex("A0 10 02 00 00 12")), kQuery, ""},
        {"lens", Stored(Hex("A0 21 00 00 04 D2 FB 2E 01 00 01 74")), kQuery,
         "lens.zoom_step=1234; lens.focus_step=-1234; lens.digital_zoom=ON; "
         "lens.auto_focus=OFF; lens.zoom_position=1; lens.focus_position=116"},
        {"lens, only 1 is on", Stored(Hex("A0 21 00 00 27 0F FC 19 02 02 FF FF")), kQuery,
         "lens.zoom_step=9999; lens.focus_step=-999; lens.digital_zoom=OFF; "
         "lens.auto_focus=OFF; lens.zoom_position=255; lens.focus_position=255"},
        {"lens steps without a four-character form", Stored(Hex("A0 21 00 00 27 10 FC 18")), kQuery,
         "lens.zoom_step=10000; lens.focus_step=-1000; lens.digital_zoom=OFF; "
         "lens.auto_focus=OFF; lens.zoom_position=0; lens.focus_position=0"},
        {"agc", Stored(Hex("A0 1A 00 00 01 08 08")), kQuery,
         "agc.priority=SENS; agc.agc_level=MAX; agc.sens_level=x64"},
        {"agc after a set command", Stored(Hex("A0 1A 00 00 01 08 08")), kSet, ""},
        {"title display after a set command", Stored(Hex("A0 10 00 00 01 01")), kSet, ""},
        {"title part after a set command", Stored(Hex("A0 10 01 00 00 12 00 10 00 1C 00 01 01 FE")),
         kSet, ""},
        {"colour after a set command", Stored(Hex("A0 1B 00 00 01")), kSet,
         "colour.white_balance=ONE PUSH; colour.auto_level=RED+++; colour.one_push_level=RED+++; "
         "colour.ry_gain=MIN; colour.by_gain=MIN"},
        {"alc", Stored(Hex("A0 48 00 00 01 03 08 00 02 09")), kQuery,
         "alc.alc=FIX; alc.alc_auto_level=+3; alc.alc_fix_level=MAX; alc.aes=AUTO; "
         "alc.aes_auto_level=+2; alc.aes_fix_level=1/10000"},
        {"blc", Stored(Hex("A0 18 00 00 02 09 01 00 00 00 00 80")), kQuery,
         "blc.blc=ON; blc.level=MAX; blc.area=010000000080"},
        {"colour", Stored(Hex("A0 1B 00 00 00 04 00 0C 08")), kQuery,
         "colour.white_balance=AUTO; colour.auto_level=MIDDLE; colour.one_push_level=RED+++; "
         "colour.ry_gain=MAX; colour.by_gain=MAX"},
        {"aperture", Stored(Hex("A0 47 00 00 00 20")), kQuery,
         "aperture.h_gain=MIN; aperture.v_gain=MAX"},
        {"motion", Stored(Hex("A0 23 00 00 01 03 FF 00 00 00 00 01 07 01")), kQuery,
         "motion.detection=ON; motion.level=+3; motion.area=FF0000000001; motion.time=60sec; "
         "motion.osd=ON"},
        {"position state", Stored(Hex("A0 52 00 00 C8 FA 65")), kQuery,
         "position.load=64; position.save_number=250; position.alarm=101"},
        {"position record", Stored(Hex("A0 52 01 00 00 7B FF FF 2D 48")), kQuery,
         "position.zoom=0123; position.focus=-001; position.alc=FIX; position.aes=AUTO; "
         "position.blc=ON; position.wb=AWB; position.agc_level=+2; position.alc_level=MAX; "
         "position.wb_level=MIDDLE"},
        {"position record field past the last item", Stored(Hex("A0 52 02 00 00 00 00 00 F0 00")),
         kQuery,
         "position.zoom=0000; position.focus=0000; position.alc=AUTO; position.aes=AUTO; "
         "position.blc=OFF; position.wb=ATW; position.agc_level=MAX; position.alc_level=MIN; "
         "position.wb_level=RED+++"},
        {"position after a set command", Stored(Hex("A0 52 01 00 00 7B FF FF 2D 48")), kSet,
         "position.load=OFF; position.save_number=123; position.alarm=255"},
        {"other", Stored(Hex("A0 54 00 00 01 01 00 01 00 00 14")), kQuery,
         "other.preset=OK; other.initial=ON; other.h_reverse=OFF; other.v_reverse=ON; "
         "other.negative=OFF; other.phase=OFF; other.phase_level=15"},
        {"not a data reply", Stored(Hex("A1 21 00 00 00 07")), kQuery, ""},
        {"unknown group", Stored(Hex("A0 7F 00 00 01")), kQuery, ""},
        {"cut short: only what is there", Bytes{0x02, 0xA0, 0x1B, 0x00, 0x00, 0x01, 0x04, 0x00},
         kQuery,
         "colour.white_balance=ONE PUSH; colour.auto_level=MIDDLE; colour.one_push_level=RED+++"},
        {"three bytes", Bytes{0x02, 0xA0, 0x1B}, kQuery, ""},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(Decoded(r.reply, r.requestKind), r.expected) << r.name;
    }
}

// Every value a setting can send reads back from its text as itself.
TEST(Catalogue, ValueTextsRoundTrip) {
    for (const TSetting& s : CatalogueSettings()) {
        std::vector<TValue> values;
        const auto number = [&values](int32_t n) {
            TValue v;
            v.Number = n;
            values.push_back(v);
        };
        switch (s.Kind) {
            case TSettingKind::Choice:
            case TSettingKind::Switch:
            case TSettingKind::Number:
                for (int32_t n = s.Min; n <= s.Max; ++n) {
                    number(n);
                }
                break;
            case TSettingKind::Step:
                for (int32_t n : {-999, -1, 0, 1, 123, 9999}) {
                    number(n);
                }
                break;
            case TSettingKind::Area:
                values.resize(2);
                values[1].Area = {0x01, 0x00, 0xA5, 0x00, 0x00, 0x80};
                break;
            case TSettingKind::Text:
                values.resize(2);
                values[1].Text = " Gate 3: {<|>} ~ok? ";
                break;
            case TSettingKind::Command:
                values.resize(1);
                break;
            case TSettingKind::Record:
                values.resize(1);
                values[0].Number = 100;
                values[0].Area = {0x00, 0x7B, 0xFF, 0xFF, 0x2D, 0x48};
                break;
        }
        for (const TValue& v : values) {
            const std::string text = ValueText(s, v);
            TValue back;
            std::string error;
            ASSERT_TRUE(ParseValue(s, text, back, error))
                << s.Id << " \"" << text << "\": " << error;
            EXPECT_EQ(back.Number, v.Number) << s.Id << " " << text;
            EXPECT_EQ(back.Area, v.Area) << s.Id << " " << text;
            EXPECT_EQ(back.Text, v.Text) << s.Id << " " << text;
        }
    }
}

TEST(Catalogue, ParseValueAcceptsOrNamesWhatIsAllowed) {
    struct Row {
        const char* id;
        const char* text;
        bool ok;
        const char* expected;  // the value's text, or part of the error
    };
    const Row rows[] = {
        {"colour.white_balance", " one push ", true, "ONE PUSH"},
        {"lens.digital_zoom", "on", true, "ON"},
        {"lens.zoom_step", "-5", true, "-005"},
        {"lens.zoom_step", "-000", true, "0000"},
        {"lens.zoom_position", "+7", true, "7"},
        {"blc.area", "01 00 00 00 00 80", true, "010000000080"},
        {"colour.white_balance", "MANUAL", false, "no item \"MANUAL\"; one of: AUTO, ONE PUSH"},
        {"lens.digital_zoom", "1", false, "one of: OFF, ON"},
        {"position.load", "OFF", false, "\"OFF\" is shown but cannot be set"},
        {"position.load", "65", false, "no item \"65\""},
        {"lens.zoom_position", "256", false, "not a whole number in 0 ... 255"},
        {"lens.zoom_position", "12x", false, "not a whole number"},
        {"lens.zoom_step", "+-5", false, "nor a whole number"},
        {"lens.zoom_position", "", false, "not a whole number"},
        {"other.phase_level", "116", false, "0 ... 115"},
        {"lens.zoom_step", "10000", false, "-999 ... 9999"},
        {"lens.zoom_step", "-1000", false, "-999 ... 9999"},
        {"blc.area", "0100", false, "twelve hexadecimal digits"},
        {"blc.area", "01000000008G", false, "twelve hexadecimal digits"},
        {"title.text", "ABCDEFGHIJKLMNOPQRSTU", false, "longer than 20 characters"},
        {"title.text", "A\\B", false,
         "byte 5C in \"A\\B\"; letters, digits, space and !\"#$%&'()*+,-./:;<=>?@[]^`{|}~ are "
         "allowed"},
        {"title.text", "A_B", false, "no character for byte 5F"},
        {"lens.tele", "1", false, "takes no value"},
        {"position.save", "3", false, "twelve hexadecimal digits"},
        {"position.save", "101 000000000000", false, "0 ... 100"},
    };
    for (const Row& r : rows) {
        const TSetting& s = Setting(r.id);
        TValue v;
        std::string error;
        const bool ok = ParseValue(s, r.text, v, error);
        ASSERT_EQ(ok, r.ok) << r.id << " \"" << r.text << "\": " << error;
        if (ok) {
            EXPECT_EQ(ValueText(s, v), r.expected) << r.id;
        } else {
            EXPECT_NE(error.find(r.expected), std::string::npos) << r.id << ": " << error;
        }
    }
}

TEST(Catalogue, UnknownSettingsAreNamedWithWhatThereIs) {
    const std::pair<const char*, const char*> rows[] = {
        {"colour.tint", "colour has: colour.white_balance, colour.auto_level"},
        {"Col.white", "colour has: colour.white_balance"},
        {"tint", "pages: title, lens, agc, alc, blc, colour, aperture, motion, position, other"},
        {"", "unknown setting \"\""},
    };
    for (const auto& [id, expected] : rows) {
        std::string error;
        EXPECT_EQ(LookupSetting(id, error), nullptr) << id;
        EXPECT_NE(error.find(expected), std::string::npos) << id << ": " << error;
    }
    std::string error;
    EXPECT_EQ(LookupSetting("lens.digital_zoom", error), &Setting("lens.digital_zoom"));
    EXPECT_EQ(FindSetting("LENS.DIGITAL_ZOOM"), nullptr);
}

TEST(Catalogue, ActionsAreMarked) {
    std::set<std::string_view> actions;
    for (const TSetting& s : CatalogueSettings()) {
        if (s.Action) {
            actions.insert(s.Id);
        }
    }
    const std::set<std::string_view> expected{"lens.wide",     "lens.tele",     "lens.zoom_stop",
                                              "lens.near",     "lens.far",      "lens.focus_stop",
                                              "lens.one_push", "position.load", "position.save",
                                              "other.preset",  "other.initial",
                                              "lens.zoom_position", "lens.focus_position"};
    EXPECT_EQ(actions, expected);
}

TEST(Catalogue, DescribesEveryKindOfFrame) {
    enum What { Command, Reply, Malformed };
    struct Row {
        What what;
        Bytes bytes;
        const char* expected;
    };
    const Row rows[] = {
        {Command, Hex("02 31 1B 00 00 00 00 00 00 00 00 00 00 00 00 00 03 AF"), "Col · query"},
        {Command, Hex("02 31 10 01 00 00 00 00 00 00 00 00 00 00 00 00 03 B9"),
         "C.ID · query title part 0"},
        {Command, Hex("02 31 10 01 03 00 00 00 00 00 00 00 00 00 00 00 03 B6"),
         "C.ID · query title part 3"},
        {Command, Hex("02 31 10 00 00 00 00 00 00 00 00 00 00 00 00 00 03 BA"),
         "C.ID · query display and position"},
        {Command, Hex("02 31 52 01 05 00 00 00 00 00 00 00 00 00 00 00 03 72"),
         "Pos · read record 5"},
        {Command, Sealed(Hex("31 52 02 05")), "Pos · read current settings (number 5)"},
        {Command, Sealed(Hex("31 7F 00 00")), "group 7F · query item 00 00"},
        {Command, Hex("02 21 1B 00 01 00 00 00 00 00 00 00 00 00 00 00 03 BE"),
         "Col · White Balance := ONE PUSH"},
        {Command, Hex("02 21 10 01 00 00 12 00 10 00 1C 00 01 01 FE 00 03 8B"),
         "C.ID · Title part 0 := \"CAM1 \""},
        {Command, Hex("02 21 21 01 00 00 00 00 00 00 00 00 00 00 00 00 03 B8"), "Len · Tele"},
        {Command, Hex("02 21 21 0A FF FF 00 00 00 00 00 00 00 00 00 00 03 B1"),
         "Len · Zoom step := -001"},
        {Command, Sealed(Hex("21 21 08 01")), "Len · Digital Zoom := ON"},
        {Command, Hex("02 21 18 02 FF FF FF FF FF FF 00 00 00 00 00 00 03 C6"),
         "BLC · BLC Area := FFFFFFFFFFFF"},
        {Command, Hex("02 21 52 01 03 00 7B FF FF 2D 48 00 00 00 00 00 03 96"),
         "Pos · Save 3 := Zoom 0123, Focus -001, ALC FIX, AES AUTO, BLC ON, W.B. AWB, "
         "AGC Lv +2, ALC Lv MAX, WB Lv MIDDLE"},
        {Command, Hex("02 21 54 06 08 00 00 00 00 00 00 00 00 00 00 00 03 78"),
         "Oth · Phase Level := 8"},
        {Command, Sealed(Hex("21 1B 00 07")), "Col · White Balance := 7"},
        {Command, Sealed(Hex("21 1B 07 01")), "Col · item 07 := 01"},
        {Command, Sealed(Hex("21 7F 03 01 00 02")), "group 7F · item 03 := 01 00 02"},
        {Command, Sealed(Hex("41 1B 00 01")), "Col · request kind 41 item 00 01"},
        {Command, Hex("02 31 1B 00 00 00 00 00 00 00 00 00 00 00 00 00 03 00"),
         "malformed: checksum 00, should be AF"},
        {Command, Hex("02 31 1B 00 00 00 00 00 00 00 00 00 00 00 00 00 04 AE"),
         "malformed: end byte 04"},
        {Command, Hex("41 31 1B 00 00 00 00 00 00 00 00 00 00 00 00 00 03 AF"),
         "malformed: start byte 41"},
        {Command, Hex("02 31 1B 00 00"), "malformed: 5 bytes"},
        {Command, Bytes{}, "malformed: no bytes"},
        {Reply, Stored(Hex("A0 1B 00 00 00 04 00 0C 08")),
         "reply Col: White Balance AUTO, Auto Level MIDDLE, ONE PUSH Level RED+++, "
         "R-Y Gain MAX, B-Y Gain MAX"},
        {Reply, Hex("02 A0 10 01 00 01 FE 01 FE 01 FE 01 FE 01 FE 00 03 00"),
         "reply C.ID: Title part 0 \"     \""},
        {Reply, Stored(Hex("A0 52 00 00 00 01 01")),
         "reply Pos: Position Load OFF, Position Save 1, Alarm Position 1"},
        {Reply, Hex("02 A1 21 00 00 00 07 00 00 00 00 00 00 00 00 00 03 00"),
         "reply kind A1 Len: 00 00 00 07 00 00 00 00 00 00 00 00 00"},
        {Reply, Stored(Hex("A0 7F 00 00 01")),
         "reply group 7F: 00 00 01 00 00 00 00 00 00 00 00 00 00"},
        {Reply, Stored(Hex("A0 10 02 00 00 12")),
         "reply C.ID, unknown form: 02 00 00 12 00 00 00 00 00 00 00 00 00"},
        {Reply, Hex("02 A0 10 00 00 00 00 00 00 00 00 00 00 00 00 00 04 00"),
         "malformed: end byte 04"},
        {Reply, Hex("02 A0 10 00 00 00 00 00 00 00 00 00 00 00 00 00 04"),
         "malformed: end byte 04"},
        {Reply, Hex("02 A0 10"), "malformed: 3 bytes"},
        {Malformed, Hex("41 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"),
         "malformed: start byte 41"},
        {Malformed, Hex("02 A0 1A 01 02 03 00 00 00 00 00 00 00 00 00 00 04 3B"),
         "malformed: end byte 04"},
    };
    for (const Row& r : rows) {
        const uint8_t* p = r.bytes.data();
        const size_t n = r.bytes.size();
        const std::string text = r.what == Command ? DescribeCommand(p, n)
                                 : r.what == Reply ? DescribeReply(p, n)
                                                   : DescribeMalformed(p, n);
        EXPECT_EQ(text, r.expected);
    }
    const std::pair<uint8_t, const char*> controls[] = {
        {kENQ, "ENQ"}, {kACK, "ACK"}, {kNAK, "NAK"}, {0x41, "byte 41"}};
    for (const auto& [b, expected] : controls) {
        EXPECT_EQ(DescribeControl(b), expected);
    }
    // Any other bytes: the fuzz target.
    EXPECT_EQ(DescribeCommand(nullptr, 18), "malformed: no bytes");
    EXPECT_TRUE(DecodeReply(nullptr, 17).empty());
}

}  // namespace
}  // namespace zp
