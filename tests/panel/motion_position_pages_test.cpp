// The motion and position pages: decoders and the save's bit fields against a
// scripted port, and their commands on the line through the virtual camera.

#include <QLineEdit>
#include <QPushButton>
#include <array>

#include "panel/pages/motion_page.h"
#include "panel/pages/position_page.h"
#include "panel/widgets/area_grid.h"
#include "panel/widgets/check_box.h"
#include "tests/panel/page_fixture.h"

namespace zp::test {
namespace {

constexpr int kMotion = 7;
constexpr int kPosition = 8;

// The seven groups of a position record, in the order of their bit fields.
std::array<TRadioGroup*, 7> RecordGroups(const TPositionPage* p) {
    return {Ctl<TRadioGroup>(p, "PosALC"),   Ctl<TRadioGroup>(p, "PosAES"),
            Ctl<TRadioGroup>(p, "PosBLC"),   Ctl<TRadioGroup>(p, "PosWB"),
            Ctl<TRadioGroup>(p, "PosAGCLv"), Ctl<TRadioGroup>(p, "PosALCLv"),
            Ctl<TRadioGroup>(p, "PosWBLv")};
}

// ---- Against a scripted port ------------------------------------------------

struct Scripted : PageScripted {
    TMotionPage* motion = nullptr;
    TPositionPage* pos = nullptr;

    // The window on one page; its query is outstanding.
    void Open(int index) {
        Connect();
        SkipTitle();  // leave the title query unanswered
        ShowPage(index);
        motion = Page<TMotionPage>(kMotion);
        pos = Page<TPositionPage>(kPosition);
    }
};

TEST_F(Scripted, MotionDecoder) {
    Open(kMotion);
    const struct {
        Bytes bytes;  // reply bytes 5 ... 14
        int detect, level, time, osd;
        bool enabled;
    } cases[] = {
        {{1, 3, 0x01, 0, 0, 0, 0, 0x80, 1, 1}, 1, 3, 1, 1, true},
        {{0, 9, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 2, 0}, 0, 9, 2, 0, false},
        {{2, 0xFF, 0, 0, 0, 0, 0, 0, 7, 5}, 1, 9, 2, 1, true},
    };
    for (const auto& c : cases) {
        Bytes reply{0xA0, 0x23, 0x00, 0x00};
        reply.insert(reply.end(), c.bytes.begin(), c.bytes.end());
        Answer(reply);
        EXPECT_EQ(Ctl<TRadioGroup>(motion, "MoDetect")->ItemIndex(), c.detect);
        EXPECT_EQ(Ctl<TRadioGroup>(motion, "MoLv")->ItemIndex(), c.level);
        EXPECT_EQ(
            Ctl<TAreaGrid>(motion, "MoArea2")->Mask(),
            (AreaGridMask{c.bytes[2], c.bytes[3], c.bytes[4], c.bytes[5], c.bytes[6], c.bytes[7]}));
        EXPECT_EQ(Ctl<TRadioGroup>(motion, "MoTime")->ItemIndex(), c.time);
        EXPECT_EQ(Ctl<TRadioGroup>(motion, "MoOSD")->ItemIndex(), c.osd);
        for (QWidget* w : {static_cast<QWidget*>(Ctl<TRadioGroup>(motion, "MoLv")),
                           static_cast<QWidget*>(Ctl<TAreaGrid>(motion, "MoArea2")),
                           static_cast<QWidget*>(Ctl<TRadioGroup>(motion, "MoTime"))}) {
            EXPECT_EQ(w->isEnabled(), c.enabled) << w->objectName().toStdString();
        }
        EXPECT_TRUE(Ctl<TRadioGroup>(motion, "MoDetect")->isEnabled() &&
                    Ctl<TRadioGroup>(motion, "MoOSD")->isEnabled());
        EXPECT_FALSE(Busy());
    }
    EXPECT_EQ(Ctl<TRadioGroup>(motion, "MoTime")->Button(2)->text(), "60sec");
    EXPECT_TRUE(FramesSent().empty());  // decoding sends nothing back
}

TEST_F(Scripted, ReplyRules) {
    const struct {
        int page;
        Bytes reply;
        bool decoded, busy;
    } cases[] = {
        {kMotion, {0xA0, 0x23, 0x00, 0x00, 0x01, 0x04}, true, false},
        {kMotion, {0xA0, 0x52, 0x00, 0x00, 0x01, 0x04}, false, true},
        {kMotion, {0xA1, 0x23, 0x00, 0x00, 0x01, 0x04}, false, false},
        {kPosition, {0xA0, 0x52, 0x00, 0x00, 0x04}, true, false},
        {kPosition, {0xA0, 0x23, 0x00, 0x00, 0x04}, false, true},
        {kPosition, {0x15, 0x52, 0x00, 0x00, 0x04}, false, false},
    };
    for (const auto& c : cases) {
        Open(c.page);
        Answer(c.reply);
        const int probe = c.page == kMotion ? Ctl<TRadioGroup>(motion, "MoLv")->ItemIndex()
                                            : Ctl<TRadioGroup>(pos, "PosLoad")->ItemIndex();
        EXPECT_EQ(probe, c.decoded ? 4 : -1) << c.page << " " << int(c.reply[0]);
        EXPECT_EQ(Busy(), c.busy) << c.page << " " << int(c.reply[0]);
    }
}

TEST_F(Scripted, AreaClickedWhileBusyIsPutBackByTheReply) {
    Open(kMotion);
    Ctl<TAreaGrid>(motion, "MoArea2")->Box(5)->click();
    EXPECT_TRUE(Ctl<TAreaGrid>(motion, "MoArea2")->Box(5)->Checked());
    EXPECT_TRUE(FramesSent().empty());
    Answer({0xA0, 0x23, 0x00, 0x00, 0x01, 0x00, 0x01});
    EXPECT_EQ(Ctl<TAreaGrid>(motion, "MoArea2")->Mask(), (AreaGridMask{0x01, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(FramesSent().empty());
}

// The decoder follows the request kind sent last and reply byte 3, not the
// item that was asked for.
TEST_F(Scripted, PositionDecoderChoice) {
    Open(kPosition);
    Answer({0xA0, 0x52, 0x00, 0x00});
    // Record: zoom 0012, focus 2000, ALC FIX, AES AUTO, BLC ON, AWB, +2, MAX, MIDDLE.
    // General state: OFF, save number 12, alarm number 7.
    const Bytes body{0x00, 0x0C, 0x07, 0xD0, 0x2D, 0x48};
    const struct {
        const char* name;
        std::function<void()> send;
        uint8_t byte3;
        bool record;
    } cases[] = {
        {"query", [&] { pos->Query(); }, 0x00, false},
        {"query, byte 3 set", [&] { pos->Query(); }, 0x01, true},
        {"read", [&] { Ctl<QPushButton>(pos, "PosReadx")->click(); }, 0x01, true},
        {"read, byte 3 clear", [&] { Ctl<QPushButton>(pos, "PosReadx")->click(); }, 0x00, false},
        {"current read", [&] { Ctl<QPushButton>(pos, "PosNowRead")->click(); }, 0x02, true},
        {"alarm send", [&] { Ctl<QPushButton>(pos, "AlSave")->click(); }, 0x03, false},
        {"osd", [&] { Ctl<TCheckBox>(pos, "OSDx")->click(); }, 0x09, false},
    };
    for (const auto& c : cases) {
        Ctl<QLineEdit>(pos, "PosZoom")->clear();
        Ctl<TSpinEdit>(pos, "PosSaveUD")->SetValue(1);
        Ctl<TSpinEdit>(pos, "AlSaveUD")->SetValue(1);
        port->writes.clear();
        c.send();
        ASSERT_EQ(FramesSent().size(), 1u) << c.name;
        Bytes reply{0xA0, 0x52, c.byte3, 0x00};
        reply.insert(reply.end(), body.begin(), body.end());
        Answer(reply);
        EXPECT_FALSE(Busy()) << c.name;
        EXPECT_EQ(Ctl<QLineEdit>(pos, "PosZoom")->text(), c.record ? "0012" : "") << c.name;
        EXPECT_EQ(Ctl<TSpinEdit>(pos, "PosSaveUD")->Value(), c.record ? 1 : 12) << c.name;
        EXPECT_EQ(Ctl<TSpinEdit>(pos, "AlSaveUD")->Value(), c.record ? 1 : 7) << c.name;
        if (c.record) {
            EXPECT_EQ(Ctl<QLineEdit>(pos, "PosFocus")->text(), "2000");
            const int want[] = {1, 0, 1, 1, 2, 8, 4};
            const auto groups = RecordGroups(pos);
            for (size_t i = 0; i < 7; ++i) {
                EXPECT_EQ(groups[i]->ItemIndex(), want[i]) << groups[i]->objectName().toStdString();
            }
        }
    }
}

TEST_F(Scripted, PositionRecordFieldsAndLimits) {
    Open(kPosition);
    const struct {
        Bytes body;  // reply bytes 5 ... 10
        const char *zoom, *focus;
        int alc, aes, agc, alcLv, wbLv;
    } cases[] = {
        // Both on AUTO: ALC is decoded first, so AES's AUTO wins.
        {{0xFF, 0xFF, 0x27, 0x0F, 0xF0, 0x00}, "-001", "9999", 1, 0, 8, 0, 0},
        {{0x00, 0x00, 0xFC, 0x19, 0x02, 0xFF}, "0000", "-999", 0, 1, 0, 8, 8},
    };
    for (const auto& c : cases) {
        Bytes reply{0xA0, 0x52, 0x02, 0x00};
        reply.insert(reply.end(), c.body.begin(), c.body.end());
        Answer(reply);
        EXPECT_EQ(Ctl<QLineEdit>(pos, "PosZoom")->text(), c.zoom);
        EXPECT_EQ(Ctl<QLineEdit>(pos, "PosFocus")->text(), c.focus);
        EXPECT_EQ(Ctl<TRadioGroup>(pos, "PosALC")->ItemIndex(), c.alc);
        EXPECT_EQ(Ctl<TRadioGroup>(pos, "PosAES")->ItemIndex(), c.aes);
        EXPECT_EQ(Ctl<TRadioGroup>(pos, "PosAGCLv")->ItemIndex(), c.agc);
        EXPECT_EQ(Ctl<TRadioGroup>(pos, "PosALCLv")->ItemIndex(), c.alcLv);
        EXPECT_EQ(Ctl<TRadioGroup>(pos, "PosWBLv")->ItemIndex(), c.wbLv);
        pos->Query();
    }
    // General state past the ends: the last load item and the top numbers.
    Answer({0xA0, 0x52, 0x00, 0x00, 0xC8, 0xFA, 0x65});
    EXPECT_EQ(Ctl<TRadioGroup>(pos, "PosLoad")->ItemIndex(), 64);
    EXPECT_EQ(Ctl<QLineEdit>(pos, "PosSaveEdit")->text(), "100");
    EXPECT_EQ(Ctl<QLineEdit>(pos, "AlmPosEdit")->text(), "100");
    EXPECT_EQ(Ctl<QLineEdit>(pos, "PosZoom")->text(), "0000");  // the record stays
    EXPECT_EQ(FramesSent().size(), 2u);                         // the two queries only
}

// A group without a choice would OR 0xFF over its neighbours' fields.
TEST_F(Scripted, SaveWaitsForEveryRecordGroup) {
    Open(kPosition);
    Answer({0xA0, 0x52, 0x00, 0x00});
    Ctl<QLineEdit>(pos, "PosZoom")->setText("0123");
    Ctl<QLineEdit>(pos, "PosFocus")->setText("-001");
    EXPECT_FALSE(Ctl<QPushButton>(pos, "PosSave")->isEnabled());
    EXPECT_TRUE(Ctl<QPushButton>(pos, "PosSave")
                    ->toolTip()
                    .contains("none yet in: ALC, AES, BLC, W.B., AGC Lv, ALC Lv, WB Lv."));
    // ALC on AUTO also sets AES to FIX.
    for (TRadioGroup* g : {Ctl<TRadioGroup>(pos, "PosBLC"), Ctl<TRadioGroup>(pos, "PosWB"),
                           Ctl<TRadioGroup>(pos, "PosALC"), Ctl<TRadioGroup>(pos, "PosAGCLv"),
                           Ctl<TRadioGroup>(pos, "PosALCLv")}) {
        g->SetItemIndex(0);
    }
    EXPECT_FALSE(Ctl<QPushButton>(pos, "PosSave")->isEnabled());
    EXPECT_TRUE(Ctl<QPushButton>(pos, "PosSave")->toolTip().contains("none yet in: WB Lv."));
    ASSERT_TRUE(QMetaObject::invokeMethod(pos, "PosSaveClick"));
    EXPECT_TRUE(FramesSent().empty());
    Ctl<TRadioGroup>(pos, "PosWBLv")->SetItemIndex(0);
    EXPECT_TRUE(Ctl<QPushButton>(pos, "PosSave")->isEnabled());
    EXPECT_TRUE(Ctl<QPushButton>(pos, "PosSave")->toolTip().isEmpty());
    Ctl<QPushButton>(pos, "PosSave")->click();
    EXPECT_EQ(FramesSent(),
              std::vector<Bytes>{Sealed({0x21, 0x52, 0x01, 0x00, 0x00, 0x7B, 0xFF, 0xFF, 0x02})});
}

TEST_F(Scripted, SaveBitFieldsAndTexts) {
    Open(kPosition);
    Answer({0xA0, 0x52, 0x00, 0x00});
    const struct {
        int number;
        const char *zoom, *focus;
        int alc, aes, blc, wb, agc, alcLv, wbLv;
        Bytes sent;            // empty: nothing goes out, and Save is disabled
        const char* tip = "";  // what the disabled Save's tooltip names
    } cases[] = {
        {3,
         "0123",
         "-001",
         1,
         0,
         1,
         1,
         2,
         8,
         4,
         {0x21, 0x52, 0x01, 0x03, 0x00, 0x7B, 0xFF, 0xFF, 0x2D, 0x48}},
        {100,
         "9999",
         "-999",
         0,
         1,
         0,
         0,
         8,
         0,
         8,
         {0x21, 0x52, 0x01, 0x64, 0x27, 0x0F, 0xFC, 0x19, 0x82, 0x80}},
        // A text that is not a number would save 0 over the stored place.
        {0, "ab-1", "0007", 1, 0, 0, 1, 0, 3, 0, {}, "Zoom must be"},
        {0, "12a4", "0007", 1, 0, 0, 1, 0, 3, 0, {}, "Zoom must be"},
        {1, "12", "0000", 1, 0, 0, 0, 0, 0, 0, {}, "Zoom must be"},
        {1, "0000", "", 1, 0, 0, 0, 0, 0, 0, {}, "Focus must be"},
        {1, "-0-1", "x", 1, 0, 0, 0, 0, 0, 0, {}, "Zoom and Focus must be"},
    };
    for (const auto& c : cases) {
        Ctl<TSpinEdit>(pos, "PosSaveUD")->SetValue(c.number);
        Ctl<QLineEdit>(pos, "PosZoom")->setText(c.zoom);
        Ctl<QLineEdit>(pos, "PosFocus")->setText(c.focus);
        const int fields[] = {c.alc, c.aes, c.blc, c.wb, c.agc, c.alcLv, c.wbLv};
        const auto groups = RecordGroups(pos);
        for (size_t i = 0; i < 7; ++i) {
            groups[i]->SetItemIndex(fields[i]);
        }
        port->writes.clear();
        Ctl<QPushButton>(pos, "PosSave")->click();
        EXPECT_EQ(FramesSent(),
                  c.sent.empty() ? std::vector<Bytes>{} : std::vector<Bytes>{Sealed(c.sent)})
            << c.zoom;
        EXPECT_EQ(Ctl<QPushButton>(pos, "PosSave")->isEnabled(), !c.sent.empty()) << c.zoom;
        EXPECT_TRUE(Ctl<QPushButton>(pos, "PosSave")->toolTip().contains(c.tip)) << c.zoom;
        ASSERT_TRUE(
            QMetaObject::invokeMethod(pos, "PosSaveClick"));  // a direct call is refused too
        EXPECT_EQ(FramesSent().size(), c.sent.empty() ? 0u : 1u) << c.zoom;
        if (!c.sent.empty()) {
            Answer({0xA0, 0x52, 0x00, 0x00, 0x00, static_cast<uint8_t>(c.number)});
        }
    }
}

// ---- On the line, through the virtual camera ----------------------------------

class Pages : public PageEndToEnd {
  protected:
    void OpenPage(int index) {
        OpenAndReadTitle();
        form->show();
        ShowPage(index);
        motion = qobject_cast<TMotionPage*>(form->Page(kMotion));
        pos = qobject_cast<TPositionPage*>(form->Page(kPosition));
    }

    TMotionPage* motion = nullptr;
    TPositionPage* pos = nullptr;
};

TEST_F(Pages, Motion) {
    camera::TCameraState s = camera.State();
    s.motion = {1, 5, {0, 0, 0, 0, 0, 0}, 7, 0};
    camera.SetState(s);
    OpenPage(kMotion);
    EXPECT_EQ(Frames(),
              std::vector<Bytes>{Hex("02 31 23 00 00 00 00 00 00 00 00 00 00 00 00 00 03 A7")});
    EXPECT_EQ(Ctl<TRadioGroup>(motion, "MoTime")->ItemIndex(), 2);  // byte 13 = 7
    EXPECT_EQ(Click(Ctl<TAreaGrid>(motion, "MoArea2")->Box(1)),
              std::vector<Bytes>{Hex("02 21 23 02 01 00 00 00 00 00 00 00 00 00 00 00 03 B4")});
    EXPECT_EQ(Click(Ctl<TAreaGrid>(motion, "MoArea2")->Box(48)),
              std::vector<Bytes>{Sealed({0x21, 0x23, 0x02, 0x01, 0, 0, 0, 0, 0x80})});

    const struct {
        QWidget* control;
        Bytes sent;
    } cases[] = {
        {Ctl<TRadioGroup>(motion, "MoLv")->Button(7), {0x21, 0x23, 0x01, 0x07}},
        {Ctl<TRadioGroup>(motion, "MoTime")->Button(1), {0x21, 0x23, 0x03, 0x01}},
        {Ctl<TRadioGroup>(motion, "MoOSD")->Button(1), {0x21, 0x23, 0x04, 0x01}},
        {Ctl<TRadioGroup>(motion, "MoDetect")->Button(0), {0x21, 0x23, 0x00, 0x00}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Click(c.control), std::vector<Bytes>{Sealed(c.sent)}) << int(c.sent[2]);
    }
    // Detection off: the answer disables level, grid and time and still sets them.
    EXPECT_FALSE(Ctl<TRadioGroup>(motion, "MoLv")->isEnabled() ||
                 Ctl<TAreaGrid>(motion, "MoArea2")->isEnabled() ||
                 Ctl<TRadioGroup>(motion, "MoTime")->isEnabled());
    EXPECT_EQ(Ctl<TRadioGroup>(motion, "MoLv")->ItemIndex(), 7);
    EXPECT_EQ(Ctl<TRadioGroup>(motion, "MoTime")->ItemIndex(), 1);
    EXPECT_EQ(Ctl<TAreaGrid>(motion, "MoArea2")->Mask(), (AreaGridMask{0x01, 0, 0, 0, 0, 0x80}));
    EXPECT_EQ(Click(Ctl<TRadioGroup>(motion, "MoDetect")->Button(1)),
              std::vector<Bytes>{Sealed({0x21, 0x23, 0, 1})});
    EXPECT_TRUE(Ctl<TRadioGroup>(motion, "MoLv")->isEnabled() &&
                Ctl<TAreaGrid>(motion, "MoArea2")->isEnabled() &&
                Ctl<TRadioGroup>(motion, "MoTime")->isEnabled());
    const camera::TMotionState m = camera.State().motion;
    EXPECT_EQ((std::vector<int>{m.detect, m.level, m.time, m.osd}), (std::vector<int>{1, 7, 1, 1}));
}

TEST_F(Pages, PositionRecordsAndNumbers) {
    camera::TCameraState s = camera.State();
    s.position.load = 7;
    s.position.saveNumber = 5;
    s.position.alarmNumber = 9;
    s.position.records[5].zoom = 0x0400;
    s.position.records[5].SetBytes9And10(0xF0, 0x00);
    camera.SetState(s);
    OpenPage(kPosition);
    EXPECT_EQ(Frames(),
              std::vector<Bytes>{Hex("02 31 52 00 00 00 00 00 00 00 00 00 00 00 00 00 03 78")});
    EXPECT_EQ(Ctl<TRadioGroup>(pos, "PosLoad")->ItemIndex(), 7);
    EXPECT_EQ(Ctl<QLineEdit>(pos, "PosSaveEdit")->text(), "5");
    EXPECT_EQ(Ctl<QLineEdit>(pos, "AlmPosEdit")->text(), "9");
    EXPECT_FALSE(Ctl<QPushButton>(pos, "PosSave")->isEnabled());

    EXPECT_EQ(Click(Ctl<QPushButton>(pos, "PosReadx")),
              std::vector<Bytes>{Hex("02 31 52 01 05 00 00 00 00 00 00 00 00 00 00 00 03 72")});
    EXPECT_EQ(Ctl<QLineEdit>(pos, "PosZoom")->text(), "1024");
    EXPECT_EQ(Ctl<TRadioGroup>(pos, "PosAGCLv")->ItemIndex(), 8);
    EXPECT_EQ(Ctl<TRadioGroup>(pos, "PosAGCLv")->Button(8)->text(), "MAX");
    EXPECT_TRUE(Ctl<QPushButton>(pos, "PosSave")->isEnabled());

    // 250 is no number here: 5 stays in force.
    Ctl<QLineEdit>(pos, "PosSaveEdit")->setFocus();
    Ctl<QLineEdit>(pos, "PosSaveEdit")->selectAll();
    QTest::keyClicks(Ctl<QLineEdit>(pos, "PosSaveEdit"), "250");
    EXPECT_EQ(Click(Ctl<QPushButton>(pos, "PosReadx")),
              std::vector<Bytes>{Sealed({0x31, 0x52, 0x01, 0x05})});
    EXPECT_EQ(Click(Ctl<QPushButton>(pos, "PosNowRead")),
              std::vector<Bytes>{Sealed({0x31, 0x52, 0x02, 0x05})});
    EXPECT_EQ(Ctl<QLineEdit>(pos, "PosSaveEdit")->text(), "250");
    // The current settings, saved under 5; the answer rewrites the edit.
    EXPECT_EQ(Click(Ctl<QPushButton>(pos, "PosSave")),
              std::vector<Bytes>{Sealed({0x21, 0x52, 0x01, 0x05, 0, 0, 0, 0, 0x02, 0x44})});
    EXPECT_EQ(Ctl<QLineEdit>(pos, "PosSaveEdit")->text(), "5");
    Ctl<QLineEdit>(pos, "PosZoom")->setText("");
    EXPECT_TRUE(Click(Ctl<QPushButton>(pos, "PosSave"), false).empty());  // no zoom text
    // The interlock both ways, on screen only.
    ASSERT_EQ(Ctl<TRadioGroup>(pos, "PosALC")->ItemIndex(),
              0);  // the current settings: ALC AUTO, AES FIX
    EXPECT_TRUE(Click(Ctl<TRadioGroup>(pos, "PosAES")->Button(0), false).empty());
    EXPECT_EQ(Ctl<TRadioGroup>(pos, "PosALC")->ItemIndex(), 1);
    EXPECT_TRUE(Click(Ctl<TRadioGroup>(pos, "PosALC")->Button(0), false).empty());
    EXPECT_EQ(Ctl<TRadioGroup>(pos, "PosAES")->ItemIndex(), 1);

    // The save example, then read back from the camera's memory 3.
    Ctl<TSpinEdit>(pos, "PosSaveUD")->SetValue(3);
    Ctl<QLineEdit>(pos, "PosZoom")->setText("0123");
    Ctl<QLineEdit>(pos, "PosFocus")->setText("-001");
    const int fields[] = {1, 0, 1, 1, 2, 8, 4};
    const auto groups = RecordGroups(pos);
    for (size_t i = 0; i < 7; ++i) {
        groups[i]->SetItemIndex(fields[i]);
    }
    EXPECT_EQ(Click(Ctl<QPushButton>(pos, "PosSave")),
              std::vector<Bytes>{Hex("02 21 52 01 03 00 7B FF FF 2D 48 00 00 00 00 00 03 96")});
    EXPECT_EQ(Ctl<QLineEdit>(pos, "PosSaveEdit")->text(), "3");  // the camera's answer
    Ctl<QLineEdit>(pos, "PosZoom")->clear();
    Ctl<QLineEdit>(pos, "PosFocus")->clear();
    for (TRadioGroup* g : groups) {
        g->SetItemIndex(0);
    }
    EXPECT_EQ(Click(Ctl<QPushButton>(pos, "PosReadx")),
              std::vector<Bytes>{Sealed({0x31, 0x52, 0x01, 0x03})});
    EXPECT_EQ(Ctl<QLineEdit>(pos, "PosZoom")->text(), "0123");
    EXPECT_EQ(Ctl<QLineEdit>(pos, "PosFocus")->text(), "-001");
    for (size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(groups[i]->ItemIndex(), fields[i]) << groups[i]->objectName().toStdString();
    }
}

TEST_F(Pages, PositionLoadAlarmAndOsd) {
    OpenPage(kPosition);
    EXPECT_TRUE(Click(Ctl<TRadioGroup>(pos, "PosLoad")->Button(0), false)
                    .empty());  // "OFF" is already shown
    EXPECT_EQ(Click(Ctl<TRadioGroup>(pos, "PosLoad")->Button(2)),
              std::vector<Bytes>{Sealed({0x21, 0x52, 0x02, 2})});
    EXPECT_EQ(Ctl<TRadioGroup>(pos, "PosLoad")->ItemIndex(), 2);
    EXPECT_TRUE(Click(Ctl<TRadioGroup>(pos, "PosLoad")->Button(2), false).empty());  // no change
    EXPECT_TRUE(Click(Ctl<TRadioGroup>(pos, "PosLoad")->Button(0), false).empty());
    Ctl<QLineEdit>(pos, "AlmPosEdit")->setFocus();
    Ctl<QLineEdit>(pos, "AlmPosEdit")->selectAll();
    QTest::keyClicks(Ctl<QLineEdit>(pos, "AlmPosEdit"), "12");
    EXPECT_EQ(Click(Ctl<QPushButton>(pos, "AlSave")),
              std::vector<Bytes>{Sealed({0x21, 0x52, 0x03, 12})});
    EXPECT_EQ(Click(Ctl<TCheckBox>(pos, "OSDx")),
              std::vector<Bytes>{Sealed({0x21, 0x52, 0x09, 1})});
    const camera::TPositionState p = camera.State().position;
    EXPECT_EQ((std::vector<int>{p.load, p.alarmNumber, p.osd}), (std::vector<int>{2, 12, 1}));
}

}  // namespace
}  // namespace zp::test
