// The lens page: its number mappings, its decoder against crafted replies,
// and every command on the line through the virtual camera.

#include <unistd.h>

#include <QTabBar>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <utility>

#include "panel/pages/lens_page.h"
#include "panel/pages/position_page.h"
#include "panel/pages/title_page.h"
#include "tests/panel/page_fixture.h"
#include "tests/support/link_fakes.h"

namespace zp::test {
namespace {

using camera::TMotion;

constexpr int kLensIndex = 1;

// A lens set command as it must appear on the line.
Bytes LensSet(uint8_t item, uint8_t b4 = 0, uint8_t b5 = 0) {
    return Sealed({0x21, 0x21, item, b4, b5});
}

// ---- Mappings ---------------------------------------------------------------

TEST(LensBars, EndsAndMiddleMapOntoTheByte) {
    struct Row {
        int position, min, max;
        uint8_t byte;
    } rows[] = {
        {0, 0, 1954, 0x00},      {1954, 0, 1954, 0xFF},   {977, 0, 1954, 0x80},
        {-206, -206, 250, 0x00}, {250, -206, 250, 0xFF},  {0, -206, 250, 0x73},
        {-1, -206, 250, 0x73},   {-300, -206, 250, 0x00}, {3000, 0, 1954, 0xFF},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(BarToByte(r.position, r.min, r.max), r.byte) << r.position;
    }
    EXPECT_EQ(ByteToBar(0x00, -206, 250), -206);
    EXPECT_EQ(ByteToBar(0xFF, -206, 250), 250);
    EXPECT_EQ(ByteToBar(0xFF, 0, 1954), 1954);
}

// The byte rises with the position, and a position sent and read back lands
// on the same place to the byte's resolution, for both bars.
TEST(LensBars, RoundTripKeepsThePlace) {
    for (auto [min, max] : {std::pair{0, 1954}, std::pair{-206, 250}}) {
        const double step = (max - min) / 255.0;
        int previous = -1;
        for (int p = min; p <= max; ++p) {
            const int b = BarToByte(p, min, max);
            EXPECT_GE(b, previous) << p;
            previous = b;
            const int back = ByteToBar(static_cast<uint8_t>(b), min, max);
            EXPECT_LE(std::abs(back - p), step / 2 + 0.5) << p;
        }
        for (int b = 0; b <= 255; ++b) {
            const int p = ByteToBar(static_cast<uint8_t>(b), min, max);
            EXPECT_GE(p, min);
            EXPECT_LE(p, max);
            EXPECT_EQ(BarToByte(p, min, max), b) << b;
        }
    }
}

TEST(LensSteps, SteppedTexts) {
    struct Row {
        const char* text;
        const char* minus;
        const char* plus;
    } rows[] = {
        {"", "-001", "0001"},     {"0000", "-001", "0001"}, {"-001", "-002", "0000"},
        {"-999", "-000", "-998"}, {"-000", "-001", "0001"}, {"9999", "9998", "-000"},
        {"0123", "0122", "0124"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(SteppedText(r.text, -1), r.minus) << r.text;
        EXPECT_EQ(SteppedText(r.text, 1), r.plus) << r.text;
    }
}

// ---- Decoder, against crafted replies -----------------------------------------

struct LensForm : PageScripted {
    TLensPage* page = nullptr;

    void SetUp() override {
        Connect();
        SkipTitle();  // leave the title query unanswered
        page = static_cast<TLensPage*>(form->Page(kLensIndex));
        page->SetReleasePause([](int) {});
        ShowPage(kLensIndex);
    }

    // Answers exchange after exchange until the link is free and nothing
    // waits to go out; the cap stops a runaway.
    void AnswerAll() {
        for (int i = 0; i < 10 && !form->Link().CanSend(); ++i) {
            AnswerFrame(Hex(kIdleReply));
        }
    }

    static constexpr const char* kIdleReply =
        "02 A0 21 00 00 00 00 00 00 00 01 00 73 00 00 00 03 00";
};

TEST_F(LensForm, DecodesEveryByteAndSendsOnlyTheAck) {
    struct Row {
        const char* reply;
        const char* zoomStep;
        const char* focusStep;
        bool dzoom, afocus;
        int zoomBar, focusBar;
    } rows[] = {
        {"02 A0 21 00 00 00 05 FF FB 01 01 00 00 00 00 00 03 00", "0005", "-005", true, true, 0,
         -206},
        {"02 A0 21 00 00 27 0F FC 19 02 02 FF FF 00 00 00 03 00", "9999", "-999", false, false,
         1954, 250},
        {"02 A0 21 00 00 00 00 00 00 00 FF 80 73 00 00 00 03 00", "0000", "0000", false, false, 981,
         0},
        {"02 A0 21 00 00 04 D2 FB 2E 01 00 01 74 00 00 00 03 00", "1234", "-234", true, false, 8,
         1},
    };
    for (const Row& r : rows) {
        form->Link().ReleaseLink();
        page->Query();
        port->writes.clear();
        AnswerFrame(Hex(r.reply));
        EXPECT_EQ(port->writes, std::vector<Bytes>{Hex("06")}) << r.reply;
        EXPECT_EQ(Ctl<QLineEdit>(page, "ZoomStep")->text(), r.zoomStep) << r.reply;
        EXPECT_EQ(Ctl<QLineEdit>(page, "FocusStep")->text(), r.focusStep) << r.reply;
        EXPECT_EQ(Ctl<TCheckBox>(page, "DZoom")->Checked(), r.dzoom) << r.reply;
        EXPECT_EQ(Ctl<TCheckBox>(page, "AFocus")->Checked(), r.afocus) << r.reply;
        EXPECT_EQ(Ctl<TTrackBar>(page, "ZoomBar")->Position(), r.zoomBar) << r.reply;
        EXPECT_EQ(Ctl<TTrackBar>(page, "FocusBar")->Position(), r.focusBar) << r.reply;
        EXPECT_TRUE(form->Link().CanSend()) << r.reply;
        // Read-back never counts as a step the operator sent.
        EXPECT_EQ(page->LastZoomStep(), 0);
        EXPECT_EQ(page->LastFocusStep(), 0);
    }
}

TEST_F(LensForm, ReadBackRule) {
    struct Row {
        const char* reply;
        bool decoded, free;
    } rows[] = {
        {"02 A0 21 00 00 00 07 00 00 00 00 00 00 00 00 00 03 00", true, true},
        {"02 A1 21 00 00 00 07 00 00 00 00 00 00 00 00 00 03 00", false, true},
        {"02 A0 1B 00 00 00 07 00 00 00 00 00 00 00 00 00 03 00", false, false},
    };
    for (const Row& r : rows) {
        form->Link().ReleaseLink();
        page->Query();
        Ctl<QLineEdit>(page, "ZoomStep")->setText("0001");  // busy: shown, not sent
        AnswerFrame(Hex(r.reply));
        EXPECT_EQ(Ctl<QLineEdit>(page, "ZoomStep")->text(), r.decoded ? "0007" : "0001") << r.reply;
        EXPECT_EQ(form->Link().CanSend(), r.free) << r.reply;
    }
}

// A stop, and what follows a sent command, waits for the outstanding exchange
// and then goes out in order; every other command that finds the link busy is
// dropped.
TEST_F(LensForm, FollowUpsWaitForTheLinkAndKeepTheirOrder) {
    const Bytes ack = Hex("06");
    const Bytes query = Hex("02 31 21 00 00 00 00 00 00 00 00 00 00 00 00 00 03 A9");
    struct Row {
        const char* what;
        bool onePush;
        std::function<void(TLensPage*)> act;
        std::vector<Bytes> line;  // everything written, once all is answered
    } rows[] = {
        {"tele released before the press is answered",
         false,
         [](TLensPage* p) {
             QTest::mousePress(Ctl<TMotionButton>(p, "TeleSW"), Qt::LeftButton);
             QTest::mouseRelease(Ctl<TMotionButton>(p, "TeleSW"), Qt::LeftButton);
         },
         {LensSet(0x01), ack, LensSet(0x02), ack}},
        {"wide in one-push mode",
         true,
         [](TLensPage* p) {
             QTest::mousePress(Ctl<TMotionButton>(p, "WideSW"), Qt::LeftButton);
             QTest::mouseRelease(Ctl<TMotionButton>(p, "WideSW"), Qt::LeftButton);
         },
         {LensSet(0x00), ack, LensSet(0x02), ack, LensSet(0x0E), ack}},
        {"near in one-push mode has no one-push follow-up",
         true,
         [](TLensPage* p) {
             QTest::mousePress(Ctl<TMotionButton>(p, "NearSW"), Qt::LeftButton);
             QTest::mouseRelease(Ctl<TMotionButton>(p, "NearSW"), Qt::LeftButton);
         },
         {LensSet(0x03), ack, LensSet(0x05), ack}},
        {"a press and release while the query is outstanding",
         true,
         [](TLensPage* p) {
             p->Query();
             QTest::mousePress(Ctl<TMotionButton>(p, "TeleSW"), Qt::LeftButton);
             QTest::mouseRelease(Ctl<TMotionButton>(p, "TeleSW"), Qt::LeftButton);
         },
         {query, ack, LensSet(0x02), ack, LensSet(0x0E), ack}},
        {"a press while the query is outstanding is dropped",
         false,
         [](TLensPage* p) {
             p->Query();
             QTest::mousePress(Ctl<TMotionButton>(p, "TeleSW"), Qt::LeftButton);
         },
         {query, ack}},
        {"one-push mode on",
         false,
         [](TLensPage* p) { Ctl<TCheckBox>(p, "OnePushAF")->SetChecked(true); },
         {LensSet(0x09, 0), ack, LensSet(0x0D, 0), ack, LensSet(0x0E), ack}},
        {"one-push mode off",
         true,
         [](TLensPage* p) { Ctl<TCheckBox>(p, "OnePushAF")->SetChecked(false); },
         {LensSet(0x09, 1), ack, LensSet(0x0D, 0), ack, LensSet(0x0E), ack}},
        {"one-push mode while the query is outstanding is dropped whole",
         false,
         [](TLensPage* p) {
             p->Query();
             Ctl<TCheckBox>(p, "OnePushAF")->SetChecked(true);
         },
         {query, ack}},
    };
    for (const Row& r : rows) {
        AnswerAll();
        // Put the mode in place with the link busy, so that it sends nothing.
        page->Query();
        Ctl<TCheckBox>(page, "OnePushAF")->SetChecked(r.onePush);
        AnswerAll();
        port->writes.clear();
        r.act(page);
        AnswerAll();
        EXPECT_EQ(port->writes, r.line) << r.what;
        EXPECT_EQ(form->Link().PendingFollowUps(), 0u) << r.what;
    }
}

// A motion that was started and can no longer end in a release (the line
// lost and the pages disabled, the page changed, the window left) still gets
// its stop: at once when the link is free, otherwise as soon as the link is
// back, before anything else.
TEST_F(LensForm, HoldThatCannotEndInAReleaseStillStops) {
    const Bytes ack = Hex("06");
    const Bytes query = Hex("02 31 21 00 00 00 00 00 00 00 00 00 00 00 00 00 03 A9");
    struct Row {
        const char* what;
        const char* button;
        uint8_t stop;
        std::function<void()> interrupt;
        std::vector<Bytes> line;  // written after the press is answered
    } rows[] = {
        {"line lost while tele is held, released while disabled, re-plugged",
         "TeleSW",
         0x02,
         [this] {
             port->open = false;
             port->onHangUp();
             QTest::mouseRelease(Ctl<TMotionButton>(page, "TeleSW"),
                                 Qt::LeftButton);  // never arrives
             form->ReconnectButton()->click();
             port->Deliver({0x06});
         },
         {Hex("05"), LensSet(0x02), ack, query, ack}},
        {"page changed while far is held",
         "FarSW",
         0x05,
         [this] {
             form->show();
             form->PageControl1->setCurrentIndex(2);
         },
         {LensSet(0x05), ack}},
        {"window deactivated while near is held",
         "NearSW",
         0x05,
         [this] {
             QEvent leave(QEvent::WindowDeactivate);
             QApplication::sendEvent(Ctl<TMotionButton>(page, "NearSW"), &leave);
         },
         {LensSet(0x05), ack}},
    };
    for (const Row& r : rows) {
        form.reset();
        SetUp();
        AnswerAll();
        QTest::mousePress(Ctl<TMotionButton>(page, r.button), Qt::LeftButton);
        AnswerAll();
        port->writes.clear();
        r.interrupt();
        AnswerAll();
        EXPECT_EQ(port->writes, r.line) << r.what;
        EXPECT_FALSE(Ctl<TMotionButton>(page, r.button)->Held()) << r.what;
        EXPECT_TRUE(form->Link().Idle()) << r.what;
        // A release that still arrives stops nothing twice.
        QTest::mouseRelease(Ctl<TMotionButton>(page, r.button), Qt::LeftButton);
        AnswerAll();
        EXPECT_EQ(port->writes, r.line) << r.what;
    }
}

// ---- The motion keys --------------------------------------------------------------

// Keypad keys as the keyboard sends them; a held key repeats as release and
// press pairs, marked auto-repeat or, on X11 at times, not.
void KeyRepeats(QWidget* w, Qt::Key key, bool marked) {
    for (int i = 0; i < 3; ++i) {
        for (QEvent::Type t : {QEvent::KeyRelease, QEvent::KeyPress}) {
            QKeyEvent e(t, key, Qt::KeypadModifier, QString(QChar(QTest::keyToAscii(key))), marked);
            QApplication::sendEvent(w, &e);
        }
        QTest::qWait(TLensKeys::kRepeatGapMs / 2);
    }
}

// A held key is a held button: one start, nothing while it repeats, the
// release rule on release or when the release can no longer come, and one
// motion when mouse and key hold together.
TEST_F(LensForm, KeyHoldSendsOneStartAndOneStop) {
    using Step = std::function<void()>;
    QWidget* at = nullptr;  // where the keys go: a control of the page shown
    const auto down = [&](Qt::Key k) -> Step {
        return [&, k] { QTest::keyPress(at, k, Qt::KeypadModifier); };
    };
    const auto up = [&](Qt::Key k) -> Step {
        return [&, k] {
            QTest::keyRelease(at, k, Qt::KeypadModifier);
            QTest::qWait(TLensKeys::kRepeatGapMs * 2);
        };
    };
    const auto repeat = [&](Qt::Key k, bool marked = true) -> Step {
        return [&, k, marked] { KeyRepeats(at, k, marked); };
    };
    const auto press = [this](const char* b) -> Step {
        return [this, b] { QTest::mousePress(Ctl<TMotionButton>(page, b), Qt::LeftButton); };
    };
    const auto release = [this](const char* b) -> Step {
        return [this, b] { QTest::mouseRelease(Ctl<TMotionButton>(page, b), Qt::LeftButton); };
    };
    const Step leave = [this] {
        QEvent e(QEvent::WindowDeactivate);
        QApplication::sendEvent(form.get(), &e);
    };
    const Step hangUp = [this] {
        port->open = false;
        port->onHangUp();
    };
    const Step reconnect = [this] {
        form->ReconnectButton()->click();
        port->Deliver({0x06});
    };
    const Bytes query = Hex("02 31 21 00 00 00 00 00 00 00 00 00 00 00 00 00 03 A9");
    const Qt::Key plus = Qt::Key_Plus, minus = Qt::Key_Minus, far = Qt::Key_Slash,
                  near = Qt::Key_Asterisk;
    struct Row {
        const char* what;
        int shown;
        bool onePush;
        std::vector<Step> steps;  // each step is answered
        std::vector<Bytes> frames;
    } rows[] = {
        {"tele", kLensIndex, false, {down(plus), repeat(plus), up(plus)}, {LensSet(1), LensSet(2)}},
        {"wide in one-push mode",
         kLensIndex,
         true,
         {down(minus), repeat(minus), up(minus)},
         {LensSet(0), LensSet(2), LensSet(0x0E)}},
        {"far, repeats not marked",
         kLensIndex,
         false,
         {down(far), repeat(far, false), up(far)},
         {LensSet(4), LensSet(5)}},
        {"tele from a page that would not take the lens reply",
         3,
         false,
         {down(plus), repeat(plus), up(plus)},
         {LensSet(1), LensSet(2)}},
        {"mouse, then key, on tele",
         kLensIndex,
         false,
         {press("TeleSW"), down(plus), release("TeleSW"), up(plus)},
         {LensSet(1), LensSet(2)}},
        {"key, then mouse, on far",
         kLensIndex,
         false,
         {down(far), press("FarSW"), up(far), release("FarSW")},
         {LensSet(4), LensSet(5)}},
        {"tele while wide is held: one direction per motor",
         kLensIndex,
         false,
         {down(minus), down(plus), up(plus), up(minus)},
         {LensSet(0), LensSet(2)}},
        {"focus lost on another page: the release goes to another window",
         3,
         false,
         {down(plus), leave},
         {LensSet(1), LensSet(2)}},
        {"line lost while near is held; no keys until it is back",
         kLensIndex,
         false,
         {down(near), hangUp, up(near), down(plus), up(plus), reconnect},
         {LensSet(3), LensSet(5), query}},
    };
    for (const Row& r : rows) {
        form.reset();
        SetUp();
        AnswerAll();
        page->Query();
        Ctl<TCheckBox>(page, "OnePushAF")->SetChecked(r.onePush);  // busy: sends nothing
        AnswerAll();
        ShowPage(r.shown);
        Answer({0xA0, form->Page(r.shown)->CommandGroup()});
        at = r.shown == kLensIndex ? static_cast<QWidget*>(Ctl<TTrackBar>(page, "ZoomBar"))
                                   : form->Page(r.shown);
        port->writes.clear();
        for (const Step& step : r.steps) {
            step();
            AnswerAll();
        }
        EXPECT_EQ(FramesSent(), r.frames) << r.what;
        EXPECT_TRUE(form->Link().Idle()) << r.what;
        for (TMotionButton* b :
             {Ctl<TMotionButton>(page, "WideSW"), Ctl<TMotionButton>(page, "TeleSW"),
              Ctl<TMotionButton>(page, "FarSW"), Ctl<TMotionButton>(page, "NearSW")}) {
            EXPECT_FALSE(b->Held()) << r.what;
        }
    }
}

// A motion key goes to the control with the focus when that control would
// use it, and otherwise moves the lens from wherever the focus is.
TEST_F(LensForm, KeysAControlUsesAreNotTaken) {
    AnswerAll();
    auto* title = Page<TTitlePage>(0);
    const Qt::KeyboardModifiers keypad = Qt::KeypadModifier;
    struct Row {
        const char* what;
        QWidget* to;
        Qt::Key key;
        Qt::KeyboardModifiers mods;
        bool moves;
    } rows[] = {
        {"an editable field types it", Ctl<QLineEdit>(title, "CName"), Qt::Key_Minus, keypad,
         false},
        {"a number field types it", Ctl<TSpinEdit>(Page<TPositionPage>(8), "PosSaveUD"),
         Qt::Key_Minus, keypad, false},
        {"the main keyboard's +", Ctl<TTrackBar>(page, "ZoomBar"), Qt::Key_Plus, Qt::NoModifier,
         false},
        {"a read-only field", Ctl<QLineEdit>(page, "ZoomStep"), Qt::Key_Plus, keypad, true},
    };
    for (const Row& r : rows) {
        port->writes.clear();
        QTest::keyPress(r.to, r.key, r.mods);
        AnswerAll();
        QTest::keyRelease(r.to, r.key, r.mods);
        QTest::qWait(TLensKeys::kRepeatGapMs * 2);
        AnswerAll();
        EXPECT_EQ(FramesSent().size(), r.moves ? 2u : 0u) << r.what;
    }
    EXPECT_EQ(Ctl<QLineEdit>(title, "CName")->text().right(1), "-");
}

// Choosing another port while a motion is held: the old camera gets its
// stop while its link is up; a stop it can no longer get is dropped, never
// sent to the new camera.
TEST_F(LensForm, ChoosingAnotherPortStopsTheOldCameraOnly) {
    const Bytes query = Hex("02 31 21 00 00 00 00 00 00 00 00 00 00 00 00 00 03 A9");
    const Bytes ack = Hex("06");
    struct Row {
        const char* what;
        bool pressAnswered;
        bool lineLost;
        std::vector<Bytes> line;  // written from the choice on
    } rows[] = {
        {"link up", true, false, {LensSet(0x02), ack, Hex("05"), query}},
        {"link up, the press still unanswered",
         false,
         false,
         {ack, LensSet(0x02), ack, Hex("05"), query}},
        {"line lost", true, true, {Hex("05"), query}},
    };
    for (const Row& r : rows) {
        form.reset();
        SetUp();
        AnswerAll();
        QTest::mousePress(Ctl<TMotionButton>(page, "TeleSW"), Qt::LeftButton);
        if (r.pressAnswered) {
            AnswerAll();
        }
        if (r.lineLost) {
            port->open = false;
            port->onHangUp();
        }
        port->writes.clear();
        form->ChoosePort("/dev/zp-other-adapter");
        AnswerAll();  // the old camera answers what it was still sent
        ASSERT_TRUE(QTest::qWaitFor([&] { return port->device == "/dev/zp-other-adapter"; }, 2000))
            << r.what;
        port->Deliver({0x06});  // the new camera confirms the link
        AnswerAll();
        EXPECT_EQ(port->writes, r.line) << r.what;
        EXPECT_EQ(form->Link().PendingFollowUps(), 0u) << r.what;
    }
}

// On the fake clock: the stop leaves its release pause and its own pause
// after the release, and never sooner than 100 ms after the transmission
// before it, also when the release comes while the start is answered.
TEST_F(LensForm, StopWaitsTheReleasePauseOnTheClock) {
    page->SetReleasePause([this](int ms) { clock += ms; });
    auto* tele = Ctl<TMotionButton>(page, "TeleSW");
    AnswerAll();  // the page's own query
    for (bool answeredFirst : {true, false}) {
        port->writes.clear();
        port->writtenAt.clear();
        QTest::mousePress(tele, Qt::LeftButton);
        if (answeredFirst) {
            AnswerFrame(Hex(kIdleReply));
        }
        const int64_t released = clock;
        QTest::mouseRelease(tele, Qt::LeftButton);
        AnswerAll();
        const std::vector<Bytes> frames = FramesSent();
        ASSERT_EQ(frames.size(), 2u) << answeredFirst;
        EXPECT_EQ(frames[1][3], 0x02) << answeredFirst;
        const auto& at = port->writtenAt;
        const auto stop = static_cast<size_t>(
            std::find(port->writes.begin(), port->writes.end(), frames[1]) - port->writes.begin());
        EXPECT_GE(at[stop] - released, 2 * kSendPauseMs) << answeredFirst;
        for (size_t i = 1; i < at.size(); ++i) {
            EXPECT_GE(at[i] - at[i - 1], kSendPauseMs) << answeredFirst << ", write " << i;
        }
    }
}

// ---- On the line, through the virtual camera ------------------------------------

struct Lens : EndToEnd {
    TLensPage* page = nullptr;

    void OpenLens() {
        // The window stays hidden: painting it would start Qt's own worker
        // threads, which the thread sanitizer cannot see into.
        OpenConnected();
        page = static_cast<TLensPage*>(form->Page(kLensIndex));
        page->SetReleasePause([this](int ms) { pauses.push_back(ms); });
        camera.ClearReceived();
        QTabBar* bar = form->PageControl1->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(kLensIndex).center());
        ASSERT_EQ(form->PageControl1->currentIndex(), kLensIndex);
        ASSERT_TRUE(WaitLine(1));
        ASSERT_TRUE(WaitIdle());
        // The ACK of the reply may still be on its way to the camera.
        ASSERT_TRUE(WaitFor([&] {
            const std::vector<Bytes> line = Line();
            return line.size() >= 2 && line.back() == Bytes{0x06};
        }));
        camera.ClearReceived();
    }

    // Waits for n frames and an idle link, then returns the frames.
    std::vector<Bytes> Sent(size_t n) {
        EXPECT_TRUE(WaitFor([&] { return Frames().size() >= n; }));
        EXPECT_TRUE(WaitIdle());
        QApplication::processEvents();
        return Frames();
    }

    std::vector<int> pauses;
};

TEST_F(Lens, QueryOnOpeningAndReadBack) {
    camera::TCameraState s = camera.State();
    s.lens.zoomStep = 0x0042;
    s.lens.focusStep = 0xFFFE;
    s.lens.digitalZoom = 1;
    s.lens.autoFocus = 0;
    s.lens.zoomPosition = 0xFF;
    s.lens.focusPosition = 0x00;
    camera.SetState(s);
    OpenConnected();
    camera.ClearReceived();
    form->PageControl1->setCurrentIndex(kLensIndex);
    ASSERT_TRUE(WaitLine(1));
    EXPECT_EQ(Line()[0], Hex("02 31 21 00 00 00 00 00 00 00 00 00 00 00 00 00 03 A9"));
    ASSERT_TRUE(WaitIdle());
    page = static_cast<TLensPage*>(form->Page(kLensIndex));
    EXPECT_EQ(Ctl<QLineEdit>(page, "ZoomStep")->text(), "0066");
    EXPECT_EQ(Ctl<QLineEdit>(page, "FocusStep")->text(), "-002");
    EXPECT_TRUE(Ctl<TCheckBox>(page, "DZoom")->Checked());
    EXPECT_FALSE(Ctl<TCheckBox>(page, "AFocus")->Checked());
    EXPECT_EQ(Ctl<TTrackBar>(page, "ZoomBar")->Position(), 1954);
    EXPECT_EQ(Ctl<TTrackBar>(page, "FocusBar")->Position(), -206);
    QApplication::processEvents();
    EXPECT_EQ(Frames().size(), 1u);  // decoding sent nothing back
}

// During the release's real pause the link may be free, yet an assistive
// tool's action then sends nothing: the stop is never overtaken.
TEST_F(Lens, NothingOvertakesTheStopDuringItsPause) {
    OpenLens();
    page->SetReleasePause(PauseMs);
    auto* tele = Ctl<TMotionButton>(page, "TeleSW");
    QTest::mousePress(tele, Qt::LeftButton);
    ASSERT_TRUE(WaitIdle());
    bool during = false;
    QMetaObject::invokeMethod(
        qApp,
        [&] {
            during = Pausing();
            Ctl<TCheckBox>(page, "DZoom")->click();
        },
        Qt::QueuedConnection);
    QTest::mouseRelease(tele, Qt::LeftButton);
    const std::vector<Bytes> f = Sent(2);
    EXPECT_TRUE(during);
    EXPECT_EQ(f, (std::vector<Bytes>{LensSet(0x01), LensSet(0x02)}));
}

TEST_F(Lens, MotionButtonsPressAndRelease) {
    OpenLens();
    struct Row {
        const char* name;
        Qt::MouseButton button;
        uint8_t start, stop;
    } rows[] = {
        {"TeleSW", Qt::LeftButton, 0x01, 0x02},
        {"WideSW", Qt::RightButton, 0x00, 0x02},
        {"NearSW", Qt::LeftButton, 0x03, 0x05},
        {"FarSW", Qt::MiddleButton, 0x04, 0x05},
    };
    for (const Row& r : rows) {
        auto* b = page->findChild<TMotionButton*>(r.name);
        ASSERT_NE(b, nullptr) << r.name;
        camera.ClearReceived();
        QTest::mousePress(b, r.button);
        ASSERT_TRUE(WaitIdle());
        QTest::mouseRelease(b, r.button);
        const std::vector<Bytes> f = Sent(2);
        ASSERT_EQ(f.size(), 2u) << r.name;
        EXPECT_EQ(f[0], LensSet(r.start)) << r.name;
        EXPECT_EQ(f[1], LensSet(r.stop)) << r.name;
    }
    EXPECT_EQ(pauses, std::vector<int>(4, 100));
    camera.ClearReceived();
    QTest::mousePress(Ctl<TMotionButton>(page, "TeleSW"), Qt::LeftButton);
    ASSERT_TRUE(WaitIdle());
    QTest::mouseRelease(Ctl<TMotionButton>(page, "TeleSW"), Qt::LeftButton);
    const std::vector<Bytes> f = Sent(2);
    EXPECT_EQ(f[0], Hex("02 21 21 01 00 00 00 00 00 00 00 00 00 00 00 00 03 B8"));
    EXPECT_EQ(f[1], Hex("02 21 21 02 00 00 00 00 00 00 00 00 00 00 00 00 03 B7"));
    EXPECT_EQ(camera.State().lens.zoomMotion, TMotion::Stopped);
}

TEST_F(Lens, StopReachesTheCameraWhenReleasedBeforeThePressIsAnswered) {
    OpenLens();
    camera.SetAnswerDelay(std::chrono::milliseconds(300));
    for (TMotionButton* b :
         {Ctl<TMotionButton>(page, "TeleSW"), Ctl<TMotionButton>(page, "FarSW")}) {
        camera.ClearReceived();
        QTest::mousePress(b, Qt::LeftButton);
        QTest::mouseRelease(b, Qt::LeftButton);
        EXPECT_FALSE(form->Link().CanSend());
        EXPECT_EQ(form->Link().PendingFollowUps(), 1u);
        const std::vector<Bytes> f = Sent(2);
        ASSERT_EQ(f.size(), 2u);
        EXPECT_EQ(f[1], LensSet(b == Ctl<TMotionButton>(page, "TeleSW") ? 0x02 : 0x05));
    }
    EXPECT_EQ(camera.State().lens.zoomMotion, TMotion::Stopped);
    EXPECT_EQ(camera.State().lens.focusMotion, TMotion::Stopped);
}

// The line is lost while Tele is held and the release never reaches the
// disabled button: when the adapter is plugged back, the zoom stop is the
// first frame the camera gets.
TEST_F(Lens, StopOfAHoldOverALostLineGoesOutFirstWhenItIsBack) {
    const std::string link =
        (std::filesystem::temp_directory_path() / ("zp-lens-" + std::to_string(getpid()))).string();
    ASSERT_TRUE(camera.Start(link)) << "start with link";
    path = link;
    OpenLens();
    QTest::mousePress(Ctl<TMotionButton>(page, "TeleSW"), Qt::LeftButton);
    ASSERT_TRUE(WaitIdle());
    ASSERT_EQ(camera.State().lens.zoomMotion, TMotion::Tele);
    camera.HangUp();
    ASSERT_TRUE(WaitFor([&] { return Panel(0) == kTextDeviceLost; }));
    QTest::mouseRelease(Ctl<TMotionButton>(page, "TeleSW"), Qt::LeftButton);
    camera.ClearReceived();
    ASSERT_TRUE(camera.Replug(link));
    ASSERT_TRUE(WaitFor([&] { return !Frames().empty(); }, 15000));
    EXPECT_EQ(Frames()[0], LensSet(0x02));
    ASSERT_TRUE(WaitFor([&] { return Frames().size() >= 2; }));
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Frames()[1], Hex("02 31 21 00 00 00 00 00 00 00 00 00 00 00 00 00 03 A9"));
    EXPECT_EQ(camera.State().lens.zoomMotion, TMotion::Stopped);
    std::filesystem::remove(link);
}

// Space and Return on a motion button are no motion keys.
TEST_F(Lens, KeyboardAndPlainClicksDoNotMoveTheLens) {
    OpenLens();
    for (TMotionButton* b :
         {Ctl<TMotionButton>(page, "WideSW"), Ctl<TMotionButton>(page, "TeleSW"),
          Ctl<TMotionButton>(page, "FarSW"), Ctl<TMotionButton>(page, "NearSW")}) {
        QTest::keyClick(b, Qt::Key_Space);
        QTest::keyClick(b, Qt::Key_Return);
        b->click();
    }
    QTest::qWait(200);
    EXPECT_TRUE(Line().empty());
}

TEST_F(Lens, ZoomReleaseInOnePushModeAsksForOnePushFocus) {
    OpenLens();
    Ctl<TCheckBox>(page, "OnePushAF")->SetChecked(true);
    Sent(3);
    camera.ClearReceived();
    const int runs = camera.State().lens.onePushCount;
    // Released before the press is answered: stop and one-push wait their turn.
    camera.SetAnswerDelay(std::chrono::milliseconds(200));
    QTest::mousePress(Ctl<TMotionButton>(page, "WideSW"), Qt::LeftButton);
    QTest::mouseRelease(Ctl<TMotionButton>(page, "WideSW"), Qt::LeftButton);
    EXPECT_EQ(form->Link().PendingFollowUps(), 2u);
    const std::vector<Bytes> f = Sent(3);
    camera.SetAnswerDelay(std::chrono::milliseconds(0));
    ASSERT_EQ(f.size(), 3u);
    EXPECT_EQ(f[0], LensSet(0x00));
    EXPECT_EQ(f[1], LensSet(0x02));
    EXPECT_EQ(f[2], LensSet(0x0E));
    EXPECT_EQ(camera.State().lens.onePushCount, runs + 1);
    // A focus release is not followed by it.
    camera.ClearReceived();
    QTest::mousePress(Ctl<TMotionButton>(page, "NearSW"), Qt::LeftButton);
    QTest::mouseRelease(Ctl<TMotionButton>(page, "NearSW"), Qt::LeftButton);
    Sent(2);
    QTest::qWait(100);
    EXPECT_EQ(Frames(), (std::vector<Bytes>{LensSet(0x03), LensSet(0x05)}));
}

TEST_F(Lens, OnePushSequence) {
    OpenLens();
    ASSERT_TRUE(Ctl<TCheckBox>(page, "AFocus")->Checked());  // the camera's factory setting
    Ctl<TCheckBox>(page, "AFTrack")->SetChecked(true);
    Sent(1);
    camera.ClearReceived();

    Ctl<TCheckBox>(page, "OnePushAF")->SetChecked(true);
    EXPECT_FALSE(Ctl<TCheckBox>(page, "AFocus")->isEnabled());
    EXPECT_FALSE(Ctl<TCheckBox>(page, "AFTrack")->isEnabled());
    EXPECT_TRUE(Ctl<TCheckBox>(page, "AFocus")->Checked());
    EXPECT_TRUE(Ctl<TCheckBox>(page, "AFTrack")->Checked());
    std::vector<Bytes> f = Sent(3);
    EXPECT_EQ(f, (std::vector<Bytes>{LensSet(0x09, 0), LensSet(0x0D, 0), LensSet(0x0E)}));
    EXPECT_EQ(camera.State().lens.autoFocus, 0);
    EXPECT_EQ(camera.State().lens.afAfterTracking, 0);
    // The read-back shows the camera's auto focus, now off; the tracking mark
    // is never read from the camera and stays.
    EXPECT_FALSE(Ctl<TCheckBox>(page, "AFocus")->Checked());
    EXPECT_TRUE(Ctl<TCheckBox>(page, "AFTrack")->Checked());

    camera.ClearReceived();
    Ctl<TCheckBox>(page, "OnePushAF")->SetChecked(false);
    EXPECT_TRUE(Ctl<TCheckBox>(page, "AFocus")->isEnabled());
    EXPECT_TRUE(Ctl<TCheckBox>(page, "AFTrack")->isEnabled());
    f = Sent(3);
    EXPECT_EQ(f, (std::vector<Bytes>{LensSet(0x09, 0), LensSet(0x0D, 1), LensSet(0x0E)}));
    EXPECT_EQ(camera.State().lens.afAfterTracking, 1);
}

TEST_F(Lens, StepButtons) {
    OpenLens();
    // Fresh from the camera: 0000; step edits empty before any reply are
    // covered by the crafted-reply tests above.
    Ctl<QLineEdit>(page, "ZoomStep")->clear();
    Ctl<QLineEdit>(page, "FocusStep")->clear();
    QApplication::processEvents();
    camera.ClearReceived();
    QTest::mouseClick(Ctl<QPushButton>(page, "ZoomDN"), Qt::LeftButton);
    EXPECT_EQ(Ctl<QLineEdit>(page, "ZoomStep")->text(), "-001");
    std::vector<Bytes> f = Sent(1);
    EXPECT_EQ(f[0], Hex("02 21 21 0A FF FF 00 00 00 00 00 00 00 00 00 00 03 B1"));
    EXPECT_EQ(page->LastZoomStep(), 0xFFFF);

    camera.ClearReceived();
    QTest::mouseClick(Ctl<QPushButton>(page, "FocusUP"), Qt::LeftButton);
    EXPECT_EQ(Ctl<QLineEdit>(page, "FocusStep")->text(), "0001");
    f = Sent(1);
    EXPECT_EQ(f[0], LensSet(0x0B, 0x00, 0x01));
    EXPECT_EQ(camera.State().lens.focusStep, 1);

    // Two clicks, the first while an exchange is outstanding: the text moves
    // twice, the second sends the final value.
    camera.ClearReceived();
    Ctl<TCheckBox>(page, "DZoom")->SetChecked(!Ctl<TCheckBox>(page, "DZoom")->Checked());
    QTest::mouseClick(Ctl<QPushButton>(page, "ZoomUP"), Qt::LeftButton);
    EXPECT_EQ(Ctl<QLineEdit>(page, "ZoomStep")->text(), "0000");
    ASSERT_TRUE(WaitIdle());
    // The read-back put the camera's -001 back.
    EXPECT_EQ(Ctl<QLineEdit>(page, "ZoomStep")->text(), "-001");
    QTest::mouseClick(Ctl<QPushButton>(page, "ZoomUP"), Qt::LeftButton);
    EXPECT_EQ(Ctl<QLineEdit>(page, "ZoomStep")->text(), "0000");
    f = Sent(2);
    ASSERT_EQ(f.size(), 2u);
    EXPECT_EQ(f[1], LensSet(0x0A, 0x00, 0x00));
    // A new text with the value last sent sends nothing; -000 is not 0000.
    camera.ClearReceived();
    Ctl<QLineEdit>(page, "ZoomStep")->clear();
    Ctl<QLineEdit>(page, "ZoomStep")->setText("0000");
    QTest::qWait(100);
    EXPECT_TRUE(Frames().empty());
    Ctl<QLineEdit>(page, "ZoomStep")->setText("-000");
    EXPECT_EQ(Sent(1), std::vector<Bytes>{LensSet(0x0A, 0x00, 0x00)});
    EXPECT_EQ(page->LastZoomStep(), 0x10000);
    camera.ClearReceived();
    QTest::mouseClick(Ctl<QPushButton>(page, "ZoomUP"), Qt::LeftButton);  // -000 becomes 0001
    f = Sent(1);
    EXPECT_EQ(f, std::vector<Bytes>{LensSet(0x0A, 0x00, 0x01)});
}

TEST_F(Lens, BarsSendScaledPositions) {
    OpenLens();
    struct Row {
        TTrackBar* bar;
        int position;
        uint8_t item, byte;
    } rows[] = {
        {Ctl<TTrackBar>(page, "ZoomBar"), 1954, 0x06, 0xFF},
        {Ctl<TTrackBar>(page, "ZoomBar"), 977, 0x06, 0x80},
        {Ctl<TTrackBar>(page, "ZoomBar"), 0, 0x06, 0x00},
        {Ctl<TTrackBar>(page, "FocusBar"), -206, 0x07, 0x00},
        {Ctl<TTrackBar>(page, "FocusBar"), 250, 0x07, 0xFF},
        {Ctl<TTrackBar>(page, "FocusBar"), -1, 0x07, 0x73},
    };
    for (const Row& r : rows) {
        camera.ClearReceived();
        r.bar->SetPosition(r.position);
        const std::vector<Bytes> f = Sent(1);
        ASSERT_EQ(f.size(), 1u) << r.position;
        EXPECT_EQ(f[0], LensSet(r.item, r.byte)) << r.position;
        // The read-back shows the bar where it was put, to the byte's step.
        EXPECT_NEAR(r.bar->Position(), r.position, 4) << r.position;
    }
    // From the keyboard: End takes the zoom to tele.
    camera.ClearReceived();
    QTest::keyClick(Ctl<TTrackBar>(page, "ZoomBar"), Qt::Key_End);
    EXPECT_EQ(Sent(1)[0], LensSet(0x06, 0xFF));
    EXPECT_EQ(camera.State().lens.zoomPosition, 0xFF);
}

TEST_F(Lens, SwitchesAndTheNoQueueRule) {
    OpenLens();
    struct Row {
        TCheckBox* box;
        uint8_t item;
    } rows[] = {{Ctl<TCheckBox>(page, "DZoom"), 0x08},
                {Ctl<TCheckBox>(page, "AFocus"), 0x09},
                {Ctl<TCheckBox>(page, "AFTrack"), 0x0D}};
    for (const Row& r : rows) {
        for (bool on : {!r.box->Checked(), r.box->Checked()}) {
            camera.ClearReceived();
            QTest::keyClick(r.box, Qt::Key_Space);
            ASSERT_EQ(r.box->Checked(), on);
            EXPECT_EQ(Sent(1), std::vector<Bytes>{LensSet(r.item, on ? 1 : 0)}) << int(r.item);
        }
    }
    // While an exchange is outstanding a switch changes on screen only.
    camera.SetAnswerDelay(std::chrono::milliseconds(200));
    camera.ClearReceived();
    Ctl<TTrackBar>(page, "ZoomBar")->SetPosition(1000);
    Ctl<TCheckBox>(page, "AFTrack")->SetChecked(!Ctl<TCheckBox>(page, "AFTrack")->Checked());
    Ctl<TTrackBar>(page, "FocusBar")->SetPosition(100);
    EXPECT_EQ(Ctl<TTrackBar>(page, "FocusBar")->Position(), 100);
    EXPECT_EQ(Sent(1).size(), 1u);
    QTest::qWait(300);
    EXPECT_EQ(Frames().size(), 1u);
}

}  // namespace
}  // namespace zp::test
