// The title page: the character table, the chained read and write, and the
// display and position commands, against a scripted port and end to end.

#include "panel/pages/title_page.h"
#include "tests/panel/page_fixture.h"

namespace zp::test {
namespace {

TEST(TitleCharTable, CodesSent) {
    const struct {
        unsigned ch;
        uint16_t code;
    } cases[] = {
        {'0', 0x0000},
        {'9', 0x0009},
        {'A', 0x0010},
        {'Z', 0x0029},
        {'a', 0x0030},
        {'z', 0x0049},
        {' ', 0x01FE},
        {'!', 0x0113},
        {'~', 0x0179},
        {'|', 0x002F},
        {'{', 0x0131},
        {'}', 0x0132},
        {'<', 0x0134},
        {'>', 0x0133},
        {':', 0x0100},
        {'@', 0x011C},
        {'`', 0x0166},
        {'^', 0x0168},
        {'/', 0x0117},
        // No code of their own: sent as the camera's space.
        {'\\', 0x01FE},
        {'_', 0x01FE},
        {0x00, 0x01FE},
        {0x1F, 0x01FE},
        {0x7F, 0x01FE},
        {0xE9, 0x01FE},
        {0xFF, 0x01FE},
        {0x20AC, 0x01FE},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TitleCodeOf(c.ch), c.code) << std::hex << c.ch;
    }
    EXPECT_EQ(TitleCharTable['\\'], kNoTitleCode);
    EXPECT_EQ(TitleCharTable[0x7F], kNoTitleCode);
}

TEST(TitleCharTable, CodesReadBack) {
    const struct {
        uint16_t code;
        char ch;
    } cases[] = {
        {0x0000, '0'},
        {0x0029, 'Z'},
        {0x0049, 'z'},
        {0x002F, '|'},
        {0x01FE, ' '},
        {0x0131, '{'},
        {0x0132, '}'},
        {0x0134, '<'},
        {0x0133, '>'},
        {0x0179, '~'},
        // Codes no character has read as spaces, not as the character 0.
        {0x000A, ' '},
        {0x004A, ' '},
        {0x0200, ' '},
        {0x1234, ' '},
        {0xFFFF, ' '},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TitleCharOf(c.code), c.ch) << std::hex << c.code;
    }
}

TEST(TitleCharTable, EveryCodedCharacterReadsBackAsItself) {
    int coded = 0;
    for (unsigned ch = 0; ch < 256; ++ch) {
        if (TitleCharTable[ch] != kNoTitleCode) {
            ++coded;
            EXPECT_EQ(static_cast<unsigned char>(TitleCharOf(TitleCharTable[ch])), ch) << ch;
        }
    }
    EXPECT_EQ(coded, 10 + 26 + 26 + 31);
}

struct TitleScripted : PageScripted {
    TTitlePage* page = nullptr;

    void SetUp() override {
        Connect();  // the link is up; the part 0 query is out
        page = Page<TTitlePage>(0);
        ASSERT_NE(page, nullptr);
        port->writes.clear();
    }

    void Answer(const std::string& payload) { PageScripted::Answer(Hex(payload)); }
};

TEST_F(TitleScripted, ReadChainDecodesUnknownCodesAsSpaces) {
    Answer("A0 10 01 00 00 12 00 10 00 1C 00 01 01 FE");  // C A M 1 space
    Answer("A0 10 01 01 00 0A FF FF 12 34 00 2F 01 31");  // ? ? ? | {
    Answer("A0 10 01 02 01 FE 01 FE 01 FE 01 FE 01 FE");
    EXPECT_EQ(Ctl<QLineEdit>(page, "CName")->text(), "");
    EXPECT_FALSE(Ctl<QPushButton>(page, "SetTitle")->isEnabled());
    Answer("A0 10 01 03 01 FE 01 FE 01 FE 01 FE 00 30");
    EXPECT_EQ(Ctl<QLineEdit>(page, "CName")->text(), "CAM1    |{         a");
    EXPECT_TRUE(Ctl<QPushButton>(page, "SetTitle")->isEnabled());
    const std::vector<Bytes> sent = FramesSent();
    ASSERT_EQ(sent.size(), 4u);
    for (int p = 1; p <= 3; ++p) {
        EXPECT_EQ(sent[static_cast<size_t>(p - 1)][4], p);
        EXPECT_EQ(sent[static_cast<size_t>(p - 1)][3], 0x01);
    }
    EXPECT_EQ(sent[3], Hex("02 31 10 00 00 00 00 00 00 00 00 00 00 00 00 00 03 BA"));

    port->writes.clear();
    Answer("A0 10 00 00 01 07");  // "ON"; a position past the last item
    EXPECT_EQ(Ctl<TRadioGroup>(page, "TitleDisp")->ItemIndex(), 1);
    EXPECT_EQ(Ctl<TRadioGroup>(page, "TitlePos")->ItemIndex(), 1);
    EXPECT_FALSE(Busy());
    EXPECT_TRUE(FramesSent().empty());  // the decoder's changes send nothing

    // A read whose part 0 never came holds only the parts that did.
    Answer("A0 10 01 01 00 10 00 11 00 12 00 13 00 14");
    Answer("A0 10 01 02 01 FE 01 FE 01 FE 01 FE 01 FE");
    Answer("A0 10 01 03 01 FE 01 FE 01 FE 01 FE 01 FE");
    EXPECT_EQ(Ctl<QLineEdit>(page, "CName")->text(), "ABCDE          ");
}

TEST_F(TitleScripted, RepliesThatStopOrHoldTheReadChain) {
    const struct {
        const char* name;
        const char* reply;
        bool busy;
    } cases[] = {
        {"another reply kind", "A1 10 01 00 00 12 00 10 00 1C 00 01 01 FE", false},
        {"another group", "A0 47 01 00 00 12 00 10 00 1C 00 01 01 FE", true},
        {"another item", "A0 10 02 00 00 12 00 10 00 1C 00 01 01 FE", true},
    };
    for (const auto& c : cases) {
        form->Link().ReleaseLink();
        page->Query();
        port->writes.clear();
        Answer(c.reply);
        EXPECT_TRUE(FramesSent().empty()) << c.name;
        EXPECT_EQ(Busy(), c.busy) << c.name;
        EXPECT_EQ(Ctl<QLineEdit>(page, "CName")->text(), "") << c.name;
    }
}

TEST_F(TitleScripted, WriteChainEndsWithSetEnabledAndNothingMore) {
    Answer("A0 10 01 00 01 FE 01 FE 01 FE 01 FE 01 FE");
    Answer("A0 10 01 01 01 FE 01 FE 01 FE 01 FE 01 FE");
    Answer("A0 10 01 02 01 FE 01 FE 01 FE 01 FE 01 FE");
    Answer("A0 10 01 03 01 FE 01 FE 01 FE 01 FE 01 FE");
    Answer("A0 10 00 00 00 00");
    ASSERT_TRUE(Ctl<QPushButton>(page, "SetTitle")->isEnabled());
    port->writes.clear();

    Ctl<QLineEdit>(page, "CName")->setText("AB");
    Ctl<QPushButton>(page, "SetTitle")->click();
    EXPECT_FALSE(Ctl<QPushButton>(page, "SetTitle")->isEnabled());
    for (int p = 0; p < 3; ++p) {
        // The camera echoes what it stored; the next part follows the echo.
        Answer("A0 10 01 0" + std::to_string(p) + " 01 FE 01 FE 01 FE 01 FE 01 FE");
        EXPECT_FALSE(Ctl<QPushButton>(page, "SetTitle")->isEnabled()) << p;
    }
    Answer("A0 10 01 03 01 FE 01 FE 01 FE 01 FE 01 FE");
    EXPECT_TRUE(Ctl<QPushButton>(page, "SetTitle")->isEnabled());
    EXPECT_FALSE(Busy());
    const std::vector<Bytes> sent = FramesSent();
    ASSERT_EQ(sent.size(), 4u);
    for (size_t p = 0; p < 4; ++p) {
        EXPECT_EQ(sent[p][1], 0x21);
        EXPECT_EQ(sent[p][4], p);
    }
    EXPECT_EQ(Ctl<QLineEdit>(page, "CName")->text(), "AB");  // a write's echoes are not decoded
}

TEST_F(TitleScripted, BrokenWriteLeavesSetDisabled) {
    Answer("A0 10 01 03 01 FE 01 FE 01 FE 01 FE 01 FE");
    Answer("A0 10 00 00 00 00");
    Ctl<QPushButton>(page, "SetTitle")->click();
    Answer("A1 10 01 00 01 FE 01 FE 01 FE 01 FE 01 FE");
    EXPECT_FALSE(Ctl<QPushButton>(page, "SetTitle")->isEnabled());
    EXPECT_FALSE(Busy());
}

TEST_F(TitleScripted, SetWhileBusySendsNothing) {
    Answer("A0 10 01 03 01 FE 01 FE 01 FE 01 FE 01 FE");  // display query now out
    ASSERT_TRUE(Busy());
    port->writes.clear();
    Ctl<QPushButton>(page, "SetTitle")->click();
    EXPECT_TRUE(Ctl<QPushButton>(page, "SetTitle")->isEnabled());
    EXPECT_TRUE(FramesSent().empty());
}

// ---- End to end ----------------------------------------------------------

class TitleEndToEnd : public PageEndToEnd {
  protected:
    void OpenAndRead() {
        OpenAndReadTitle();
        page = qobject_cast<TTitlePage*>(form->Page(0));
        ASSERT_NE(page, nullptr);
        ASSERT_TRUE(Ctl<QPushButton>(page, "SetTitle")->isEnabled());
    }

    // Clicks Set and waits until the four parts are written.
    void WriteTitle() {
        camera.ClearReceived();
        QTest::mouseClick(Ctl<QPushButton>(page, "SetTitle"), Qt::LeftButton);
        ASSERT_TRUE(WaitFor([&] { return Frames().size() >= 4; }));
        ASSERT_TRUE(WaitFor([&] {
            return form->Link().CanSend() && Ctl<QPushButton>(page, "SetTitle")->isEnabled();
        }));
    }

    // Reads the page again by leaving it and coming back.
    void ReadAgain() {
        form->PageControl1->setCurrentIndex(6);
        ASSERT_TRUE(WaitIdle());
        camera.ClearReceived();
        form->PageControl1->setCurrentIndex(0);
        ASSERT_TRUE(WaitFor([&] { return Frames().size() >= 5; }));
        ASSERT_TRUE(WaitIdle());
    }

    TTitlePage* page = nullptr;
};

TEST_F(TitleEndToEnd, OpeningReadsTheTitleInFiveExchanges) {
    camera::TCameraState s = camera.State();
    s.title.display = 1;
    camera.SetState(s);
    OpenAndRead();
    QTest::qWait(50);
    const std::vector<Bytes> f = Frames();
    ASSERT_EQ(f.size(), 5u);  // nothing after the display and position query
    EXPECT_EQ(f[0], Hex("02 31 10 01 00 00 00 00 00 00 00 00 00 00 00 00 03 B9"));
    EXPECT_EQ(f[1], Hex("02 31 10 01 01 00 00 00 00 00 00 00 00 00 00 00 03 B8"));
    EXPECT_EQ(f[3], Hex("02 31 10 01 03 00 00 00 00 00 00 00 00 00 00 00 03 B6"));
    EXPECT_EQ(f[4], Hex("02 31 10 00 00 00 00 00 00 00 00 00 00 00 00 00 03 BA"));
    EXPECT_EQ(Ctl<QLineEdit>(page, "CName")->text(), "CAMERA 1            ");
    EXPECT_EQ(Ctl<TRadioGroup>(page, "TitleDisp")->ItemIndex(), 1);
    EXPECT_EQ(Ctl<TRadioGroup>(page, "TitlePos")->ItemIndex(), 0);
}

TEST_F(TitleEndToEnd, SetWritesFourPartsThatReadBack) {
    OpenAndRead();
    Ctl<QLineEdit>(page, "CName")->clear();
    QTest::keyClicks(Ctl<QLineEdit>(page, "CName"), "CAM1");
    WriteTitle();
    const std::vector<Bytes> f = Frames();
    ASSERT_EQ(f.size(), 4u);
    EXPECT_EQ(f[0], Hex("02 21 10 01 00 00 12 00 10 00 1C 00 01 01 FE 00 03 8B"));
    EXPECT_EQ(f[1], Hex("02 21 10 01 01 01 FE 01 FE 01 FE 01 FE 01 FE 00 03 CD"));
    EXPECT_EQ(f[2], Hex("02 21 10 01 02 01 FE 01 FE 01 FE 01 FE 01 FE 00 03 CC"));
    EXPECT_EQ(f[3], Hex("02 21 10 01 03 01 FE 01 FE 01 FE 01 FE 01 FE 00 03 CB"));
    EXPECT_EQ(camera.State().title.codes, camera::TitleCodes("CAM1"));

    Ctl<QLineEdit>(page, "CName")->clear();
    ReadAgain();
    EXPECT_EQ(Ctl<QLineEdit>(page, "CName")->text(), "CAM1                ");
}

TEST_F(TitleEndToEnd, CharactersWithoutCodeGoOutAsSpacesAndReadBackAsSpaces) {
    OpenAndRead();
    // Twenty characters, with signs, the vertical bar and characters that
    // have no code: backslash, low line, DEL, e acute, y diaeresis.
    const QString typed =
        QString("a\\b_c") + QChar(0x7F) + "{|}<" + QChar(0xE9) + ">~" + QChar(0xFF) + "Z9 @`^";
    ASSERT_EQ(typed.size(), 20);
    Ctl<QLineEdit>(page, "CName")->setText(typed);
    WriteTitle();
    const auto codes = camera.State().title.codes;
    const uint16_t want[20] = {0x0030, 0x01FE, 0x0031, 0x01FE, 0x0032, 0x01FE, 0x0131,
                               0x002F, 0x0132, 0x0134, 0x01FE, 0x0133, 0x0179, 0x01FE,
                               0x0029, 0x0009, 0x01FE, 0x011C, 0x0166, 0x0168};
    for (size_t i = 0; i < 20; ++i) {
        EXPECT_EQ(codes[i], want[i]) << i;
    }
    ReadAgain();
    EXPECT_EQ(Ctl<QLineEdit>(page, "CName")->text(), "a b c {|}< >~ Z9 @`^");
}

// A character beyond one byte must not go out as the character of its low
// byte: U+0161 would otherwise be taken for "a" (0x61).
TEST_F(TitleEndToEnd, CharactersBeyondOneByteGoOutAsSpaces) {
    OpenAndRead();
    Ctl<QLineEdit>(page, "CName")->setText(QString("a") + QChar(0x161) + "a" + QChar(0x2161));
    WriteTitle();
    const auto codes = camera.State().title.codes;
    for (size_t i = 0; i < 20; ++i) {
        EXPECT_EQ(codes[i], i == 0 || i == 2 ? 0x0030 : 0x01FE) << i;
    }
}

TEST_F(TitleEndToEnd, DisplayAndPositionCommands) {
    OpenAndRead();
    const struct {
        TRadioGroup* group;
        int item;
        const char* frame;
    } cases[] = {
        {Ctl<TRadioGroup>(page, "TitleDisp"), 1,
         "02 21 10 00 01 00 00 00 00 00 00 00 00 00 00 00 03 C9"},
        {Ctl<TRadioGroup>(page, "TitlePos"), 1,
         "02 21 10 03 01 00 00 00 00 00 00 00 00 00 00 00 03 C6"},
        {Ctl<TRadioGroup>(page, "TitleDisp"), 0,
         "02 21 10 00 00 00 00 00 00 00 00 00 00 00 00 00 03 CA"},
    };
    for (const auto& c : cases) {
        camera.ClearReceived();
        ClickMark(c.group->Button(c.item));
        ASSERT_TRUE(WaitFor([&] { return Frames().size() >= 1; }));
        ASSERT_TRUE(WaitIdle());
        EXPECT_EQ(Frames(), std::vector<Bytes>{Hex(c.frame)}) << c.frame;
    }
    EXPECT_EQ(camera.State().title.display, 0);
    EXPECT_EQ(camera.State().title.position, 1);
    ReadAgain();
    EXPECT_EQ(Ctl<TRadioGroup>(page, "TitleDisp")->ItemIndex(), 0);
    EXPECT_EQ(Ctl<TRadioGroup>(page, "TitlePos")->ItemIndex(), 1);
}

}  // namespace
}  // namespace zp::test
