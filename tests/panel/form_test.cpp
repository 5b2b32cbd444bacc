#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QSettings>
#include <QStatusBar>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>

#include "panel/uZoom.h"
#include "tests/support/link_fakes.h"
#include "tests/support/panel_fakes.h"

namespace zp {
namespace {

using test::Bytes;
using test::Hex;

struct Form : ::testing::Test {
    test::FakePanelPort* port = nullptr;
    std::unique_ptr<TForm1> form;
    std::vector<QString> errors;
    TErrorHook oldHook;

    void SetUp() override {
        oldHook = SetErrorHook([this](const QString& t) { errors.push_back(t); });
    }
    void TearDown() override {
        form.reset();
        SetErrorHook(oldHook);
    }

    void Start(bool failOpen = false, bool turnLoop = true) {
        auto p = std::make_unique<test::FakePanelPort>();
        p->failOpen = failOpen;
        port = p.get();
        TStartOptions options;
        options.pause = [](int) {};
        form = std::make_unique<TForm1>(std::move(p), options);
        // The window opens its port on the first turn of the main loop.
        if (turnLoop) {
            QCoreApplication::processEvents();
        }
    }

    // ENQ, ACK: the link is up and the title query is out.
    void Connect() {
        Start();
        port->Deliver(Hex("06"));
        port->writes.clear();
    }

    // The camera acknowledges the outstanding frame and answers it.
    void Answer(const Bytes& reply) {
        port->Deliver(Hex("06"));
        port->Deliver(reply);
    }

    QString Panel(int i) const { return form->StatusPanel(i)->text(); }
};

TEST_F(Form, Layout) {
    Start();
    // The caption first, then the device; Qt adds nothing to it.
    EXPECT_EQ(form->windowTitle(), "26x Zoom \u2014 /dev/ttyS0");
    EXPECT_TRUE(QGuiApplication::applicationDisplayName() == QCoreApplication::applicationName());
    // 640 x 480 below the menu bar, wider only by what the status bar needs
    // to show whole.
    const int menu = form->menuBar()->sizeHint().height();
    EXPECT_GT(menu, 0);
    EXPECT_EQ(form->height(), 480 + menu);
    EXPECT_EQ(form->width(), std::max(640, form->statusBar()->minimumSizeHint().width()));
    EXPECT_LE(form->width(), 700);
    // Every page fits: the layouts do not push the window beyond its size.
    const QSize least = form->minimumSizeHint();
    EXPECT_LE(least.width(), form->width());
    EXPECT_LE(least.height(), 480 + menu);
    const char* captions[] = {"C.ID", "Len", "AGC", "ALC", "BLC",
                              "Col",  "Ape", "Mot", "Pos", "Oth"};
    const char* sheets[] = {"TitleSheet", "LensSheet", "AGCSheet",    "ALCSheet", "BLCSheet",
                            "ColorSheet", "APCSheet",  "MotionSheet", "PosSheet", "OtherSheet"};
    ASSERT_EQ(form->PageControl1->count(), 10);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(form->PageControl1->tabText(i), captions[i]);
        EXPECT_EQ(form->PageControl1->widget(i)->objectName(), sheets[i]);
    }
    EXPECT_TRUE(form->PageControl1->tabBar()->font().bold());
    EXPECT_EQ(form->PageControl1->currentIndex(), 0);
    EXPECT_FALSE(form->PageControl1->isEnabled());
}

TEST_F(Form, StartUpAgainstAnAnsweringCamera) {
    Start();
    EXPECT_EQ(Panel(0), "Comm1. Connected");
    EXPECT_EQ(port->portNum, 1);
    EXPECT_EQ(port->baud, 9600);
    EXPECT_EQ(port->writes, std::vector<Bytes>{Hex("05")});
    EXPECT_TRUE(form->BusyCursorShown());
    EXPECT_FALSE(form->PageControl1->isEnabled());

    port->Deliver(Hex("06"));
    EXPECT_EQ(Panel(0), "CAM LINK OK");
    ASSERT_EQ(port->writes.size(), 2u);
    EXPECT_EQ(port->writes[1], Hex("02 31 10 01 00 00 00 00 00 00 00 00 00 00 00 00 03 B9"));
    EXPECT_EQ(Panel(1), "3110010000000000000000000000");
    EXPECT_TRUE(form->PageControl1->isEnabled());
    EXPECT_FALSE(form->Link().Vars().SendBusy);
    EXPECT_FALSE(form->BusyCursorShown());
}

// Shown or not, the window opens its port and checks the link on the first
// turn of the main loop, not before: nothing holds back its first paint.
TEST_F(Form, PortOpensOnTheFirstTurnOfTheLoop) {
    Start(false, false);
    EXPECT_EQ(Panel(0), "Comm. Connecting");
    EXPECT_EQ(port->opens, 0);
    EXPECT_TRUE(port->writes.empty());
    QCoreApplication::processEvents();
    EXPECT_EQ(port->opens, 1);
    EXPECT_EQ(port->writes, std::vector<Bytes>{Hex("05")});
}

TEST_F(Form, NakToTheLinkCheck) {
    Start();
    port->Deliver(Hex("15"));
    EXPECT_EQ(Panel(0), "Retry Please!");
    EXPECT_FALSE(form->PageControl1->isEnabled());
    EXPECT_TRUE(form->BusyCursorShown());
}

TEST_F(Form, PortThatCannotBeOpened) {
    Start(true);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0].startsWith("Unable to open specified device "));
    EXPECT_EQ(Panel(0), "Comm. Connecting fail");
    EXPECT_TRUE(port->writes.empty());
    EXPECT_FALSE(form->PageControl1->isEnabled());
}

TEST_F(Form, EveryPageSendsItsQuery) {
    Connect();
    Answer(Hex("02 A0 10 01 00 01 FE 01 FE 01 FE 01 FE 01 FE 00 03 00"));
    const char* queries[] = {
        "02 31 10 01 00 00 00 00 00 00 00 00 00 00 00 00 03 B9",
        "02 31 21 00 00 00 00 00 00 00 00 00 00 00 00 00 03 A9",
        "02 31 1A 00 00 00 00 00 00 00 00 00 00 00 00 00 03 B0",
        "02 31 48 00 00 00 00 00 00 00 00 00 00 00 00 00 03 82",
        "02 31 18 00 00 00 00 00 00 00 00 00 00 00 00 00 03 B2",
        "02 31 1B 00 00 00 00 00 00 00 00 00 00 00 00 00 03 AF",
        "02 31 47 00 00 00 00 00 00 00 00 00 00 00 00 00 03 83",
        "02 31 23 00 00 00 00 00 00 00 00 00 00 00 00 00 03 A7",
        "02 31 52 00 00 00 00 00 00 00 00 00 00 00 00 00 03 78",
        "02 31 54 00 00 00 00 00 00 00 00 00 00 00 00 00 03 76",
    };
    for (int i : {1, 2, 3, 4, 5, 6, 7, 8, 9, 0}) {
        form->Link().ReleaseLink();
        port->writes.clear();
        form->PageControl1->setCurrentIndex(i);
        ASSERT_EQ(port->writes.size(), 1u) << i;
        EXPECT_EQ(port->writes[0], Hex(queries[i])) << i;
    }
}

TEST_F(Form, ChoosingColWhileIdle) {
    Connect();
    Answer(Hex("02 A0 10 01 00 01 FE 01 FE 01 FE 01 FE 01 FE 00 03 00"));
    form->Link().ReleaseLink();
    form->StatusPanel(2)->setText("old");
    port->writes.clear();
    QTest::mouseClick(form->PageControl1->tabBar(), Qt::LeftButton, {},
                      form->PageControl1->tabBar()->tabRect(5).center());
    EXPECT_EQ(form->PageControl1->currentIndex(), 5);
    EXPECT_EQ(port->writes,
              std::vector<Bytes>{Hex("02 31 1B 00 00 00 00 00 00 00 00 00 00 00 00 00 03 AF")});
    EXPECT_EQ(Panel(1), "311B000000000000000000000000");
    EXPECT_EQ(Panel(2), "");
}

TEST_F(Form, PageChangeRefusedWhileBusyWhicheverWay) {
    Connect();
    form->show();
    test::HoldLink(form->Link());
    QTabBar* bar = form->PageControl1->tabBar();
    const std::vector<std::pair<const char*, std::function<void()>>> ways = {
        {"code", [&] { form->PageControl1->setCurrentIndex(3); }},
        {"mouse", [&] { QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(3).center()); }},
        {"keyboard",
         [&] {
             form->PageControl1->setFocus();
             QTest::keyClick(form->PageControl1, Qt::Key_Tab, Qt::ControlModifier);
         }},
        {"accessibility",
         [&] {
             QAccessibleInterface* tabs = QAccessible::queryAccessibleInterface(bar);
             ASSERT_NE(tabs, nullptr);
             QAccessibleInterface* tab = tabs->child(3);
             ASSERT_NE(tab, nullptr);
             ASSERT_NE(tab->actionInterface(), nullptr);
             tab->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
         }},
    };
    for (const auto& [name, act] : ways) {
        port->writes.clear();
        act();
        EXPECT_EQ(form->PageControl1->currentIndex(), 0) << name;
        EXPECT_TRUE(port->writes.empty()) << name;
    }
    // The same ways do change the page when the link is free.
    for (const auto& [name, act] : ways) {
        form->Link().ReleaseLink();
        form->PageControl1->setCurrentIndex(0);
        form->Link().ReleaseLink();
        port->writes.clear();
        act();
        EXPECT_NE(form->PageControl1->currentIndex(), 0) << name;
        EXPECT_EQ(port->writes.size(), 1u) << name;
    }
}

TEST_F(Form, ReplyForAnotherPageKeepsTheLinkBusy) {
    Connect();
    Answer(Hex("02 A0 10 01 00 01 FE 01 FE 01 FE 01 FE 01 FE 00 03 00"));
    form->Link().ReleaseLink();
    form->PageControl1->setCurrentIndex(1);  // "Len"
    Answer(Hex("02 A0 1B 00 01 00 00 00 00 00 00 00 00 00 00 00 03 00"));
    EXPECT_TRUE(form->Link().Vars().SendBusy);
    // Not a data reply: the link is free again on any page.
    form->Link().ReleaseLink();
    form->PageControl1->setCurrentIndex(2);
    Answer(Hex("02 B0 1A 00 00 00 00 00 00 00 00 00 00 00 00 00 03 00"));
    EXPECT_FALSE(form->Link().Vars().SendBusy);
}

TEST_F(Form, HangUpAndReconnect) {
    Connect();
    port->open = false;
    port->onHangUp();
    EXPECT_EQ(Panel(0), kTextDeviceLost);
    EXPECT_FALSE(form->PageControl1->isEnabled());
    EXPECT_FALSE(form->BusyCursorShown());
    // The title query that was on its way is forgotten with the line.
    EXPECT_TRUE(form->Link().Idle());
    // The operator asks at once.
    port->writes.clear();
    form->ReconnectButton()->click();
    EXPECT_TRUE(port->open);
    EXPECT_EQ(port->writes, std::vector<Bytes>{Hex("05")});
    port->Deliver(Hex("06"));
    EXPECT_EQ(Panel(0), "CAM LINK OK");
    EXPECT_TRUE(form->PageControl1->isEnabled());
    // Lost again; the once-a-second look reopens the device, which goes
    // before the camera answers: a new loss, told again.
    port->open = false;
    port->onHangUp();
    ASSERT_TRUE(QTest::qWaitFor([&] { return port->open; }, 3000));
    port->open = false;
    port->onHangUp();
    EXPECT_EQ(Panel(0), kTextDeviceLost);
}

TEST_F(Form, CloseClosesThePort) {
    Connect();
    form->close();
    EXPECT_FALSE(port->open);
}

}  // namespace
}  // namespace zp

namespace zp {
namespace {

TEST(OpenFailureText, HintOnlyWhenTheDeviceIsThereButNotAllowed) {
    const QString msg = "Unable to open specified device /dev/ttyUSB0 (13), Permission denied";
    struct Case {
        bool exists;
        bool allowed;
        bool hint;
    };
    for (const Case c :
         {Case{true, false, true}, Case{true, true, false}, Case{false, false, false}}) {
        const QString text = OpenFailureText(msg, "/dev/ttyUSB0", c.exists, c.allowed, "dialout");
        EXPECT_TRUE(text.startsWith(msg));
        EXPECT_EQ(text.contains("sudo adduser $USER dialout"), c.hint) << c.exists << c.allowed;
        EXPECT_TRUE(text.endsWith("Choose a port in the Port menu."));
    }
}

}  // namespace
}  // namespace zp

namespace zp {
namespace {

// Every control the operator can work, on every page, has a name that a
// screen reader can speak, and can take the keyboard focus.
TEST_F(Form, EveryControlHasAnAccessibleNameAndTakesTheFocus) {
    Connect();
    QAccessible::setActive(true);
    std::vector<std::string> unnamed;
    std::vector<std::string> unfocusable;
    size_t controls = 0;
    for (int page = 0; page < form->PageControl1->count(); ++page) {
        QWidget* sheet = form->PageControl1->widget(page);
        for (QWidget* w : sheet->findChildren<QWidget*>()) {
            const bool control = qobject_cast<QAbstractButton*>(w) != nullptr ||
                                 qobject_cast<QAbstractSlider*>(w) != nullptr ||
                                 qobject_cast<QAbstractSpinBox*>(w) != nullptr ||
                                 qobject_cast<QLineEdit*>(w) != nullptr ||
                                 qobject_cast<QComboBox*>(w) != nullptr;
            // A line edit inside a spin box is named through the spin box.
            if (!control || qobject_cast<QAbstractSpinBox*>(w->parentWidget()) != nullptr) {
                continue;
            }
            ++controls;
            const std::string where = form->PageControl1->tabText(page).toStdString() + ": " +
                                      w->metaObject()->className() + " " +
                                      w->objectName().toStdString();
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
            if (a == nullptr || a->text(QAccessible::Name).trimmed().isEmpty()) {
                unnamed.push_back(where);
            }
            if (w->focusPolicy() == Qt::NoFocus) {
                unfocusable.push_back(where);
            }
        }
    }
    // The two area grids alone hold 96 boxes.
    EXPECT_GT(controls, 150u);
    EXPECT_TRUE(unnamed.empty()) << ::testing::PrintToString(unnamed);
    EXPECT_TRUE(unfocusable.empty()) << ::testing::PrintToString(unfocusable);
}

}  // namespace
}  // namespace zp

namespace zp {
namespace {

const Bytes kTitleReply = Hex("02 A0 10 01 00 00 00 00 00 00 00 00 00 00 00 00 03 00");
const Bytes kPart1Query = Hex("02 31 10 01 01 00 00 00 00 00 00 00 00 00 00 00 03 B8");

TEST_F(Form, OpenThatLeavesThePortShutStillChecksTheLink) {
    auto p = std::make_unique<test::FakePanelPort>();
    p->staysShut = true;
    port = p.get();
    TStartOptions options;
    options.pause = [](int) {};
    form = std::make_unique<TForm1>(std::move(p), options);
    QCoreApplication::processEvents();  // the port opens on the first turn
    EXPECT_EQ(Panel(0), "Comm. Connecting fail");
    EXPECT_EQ(port->writes, std::vector<Bytes>{Hex("05")});
    EXPECT_TRUE(errors.empty());
}

TEST_F(Form, ReplyWithoutAckBeforeItIsDropped) {
    Connect();
    // Ready: the title query is out, the camera answers without its ACK.
    port->Deliver(kTitleReply);
    EXPECT_TRUE(port->writes.empty());
    EXPECT_EQ(Panel(2), "");
    EXPECT_EQ(form->Link().Vars().LinkState, TLinkState::Ready);
}

TEST_F(Form, ReplyIsShownAcknowledgedOnceAndOnlyThenDecoded) {
    Connect();
    port->Deliver(Hex("06"));
    EXPECT_EQ(form->Link().Vars().LinkState, TLinkState::AwaitingReply);
    port->Deliver(kTitleReply);
    EXPECT_EQ(Panel(2), "A0100100" + QString(22, QChar('0')));
    // The ACK goes out before the title page, decoding, asks for part 1.
    ASSERT_EQ(port->writes.size(), 2u);
    EXPECT_EQ(port->writes[0], Hex("06"));
    EXPECT_EQ(port->writes[1], kPart1Query);
}

TEST_F(Form, MalformedFrameInAnyStateCostsOneAckAndChecksTheLinkAgain) {
    const Bytes malformed = Hex("02 A0 10 00 00 00 00 00 00 00 00 00 00 00 00 00 04 00");
    struct Case {
        const char* name;
        std::function<void(Form&)> reach;
        TLinkState state;
    };
    const Case cases[] = {
        {"awaiting the link ACK",
         [](Form& f) {
             f.Start();
             f.port->writes.clear();
         },
         TLinkState::AwaitingLinkAck},
        {"ready", [](Form& f) { f.Connect(); }, TLinkState::Ready},
        {"awaiting the reply",
         [](Form& f) {
             f.Connect();
             f.port->Deliver(Hex("06"));
         },
         TLinkState::AwaitingReply},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        form.reset();
        c.reach(*this);
        ASSERT_EQ(form->Link().Vars().LinkState, c.state);
        port->Deliver(malformed);
        EXPECT_EQ(port->writes, std::vector<Bytes>{Hex("06")});
        EXPECT_EQ(form->Link().Vars().LinkState, TLinkState::AwaitingLinkAck);
        port->writes.clear();
        port->Deliver(Hex("06"));
        EXPECT_EQ(Panel(0), "CAM LINK OK");
        ASSERT_EQ(port->writes.size(), 1u);
        EXPECT_EQ(port->writes[0], Hex("02 31 10 01 00 00 00 00 00 00 00 00 00 00 00 00 03 B9"));
    }
}

}  // namespace
}  // namespace zp

namespace zp {
namespace {

// A port whose writes raise (the device went away a moment ago): whichever
// way a send starts, the operator reads the error, the window goes on, the
// link is free and the cursor back.
TEST_F(Form, WriteErrorsOnEveryPathAreShownAndTheWindowGoesOn) {
    struct Row {
        const char* name;
        std::function<void(Form&)> before;  // reached with a working port
        std::function<void(Form&)> act;     // with a port that raises
    };
    const auto press = [](Form& f) {
        QTest::mousePress(f.form->Page(1)->findChild<QWidget*>("TeleSW"), Qt::LeftButton);
    };
    const Row rows[] = {
        {"page change", [](Form& f) { f.Connect(); },
         [](Form& f) { f.form->PageControl1->setCurrentIndex(5); }},
        {"operator press",
         [](Form& f) {
             f.Connect();
             f.form->Link().ReleaseLink();
             f.form->PageControl1->setCurrentIndex(1);
             f.Answer(Hex("02 A0 21 00 00 00 00 00 00 00 00 00 00 00 00 00 03 00"));
         },
         press},
        {"release, a page handler's follow-up",
         [press](Form& f) {
             f.Connect();
             f.form->Link().ReleaseLink();
             f.form->PageControl1->setCurrentIndex(1);
             f.Answer(Hex("02 A0 21 00 00 00 00 00 00 00 00 00 00 00 00 00 03 00"));
             press(f);
             f.Answer(Hex("02 A0 21 00 00 00 00 00 00 00 00 00 00 00 00 00 03 00"));
         },
         [](Form& f) {
             QTest::mouseRelease(f.form->Page(1)->findChild<QWidget*>("TeleSW"), Qt::LeftButton);
         }},
        {"receive dispatch, the ACK of a reply",
         [](Form& f) {
             f.Connect();
             f.port->Deliver(Hex("06"));
         },
         [](Form& f) {
             f.port->Deliver(Hex("02 A0 10 01 00 00 00 00 00 00 00 00 00 00 00 00 03 00"));
         }},
        {"Reconnect button", [](Form& f) { f.Connect(); },
         [](Form& f) { f.form->ReconnectButton()->click(); }},
        {"reply timer",
         [](Form& f) {
             f.Connect();
             f.form->Link().ReleaseLink();
             f.form->PageControl1->setCurrentIndex(5);  // its query goes unanswered
         },
         [](Form& f) {
             static_cast<void>(QTest::qWaitFor([&] { return !f.errors.empty(); }, 3000));
         }},
        {"reconnect timer",
         [](Form& f) {
             f.Connect();
             f.port->open = false;
             f.port->onHangUp();
         },
         [](Form& f) {
             static_cast<void>(QTest::qWaitFor([&] { return !f.errors.empty(); }, 3000));
         }},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        form.reset();
        errors.clear();
        r.before(*this);
        ASSERT_TRUE(errors.empty());
        port->throwOnWrite = true;
        r.act(*this);
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0], "Write error (5), Input/output error");
        EXPECT_FALSE(form->Link().Vars().SendBusy);
        EXPECT_FALSE(form->BusyCursorShown());
    }
}

// The application's own guard: an exception that escapes any event handler
// reaches the error display, and the program goes on.
TEST_F(Form, ExceptionFromAnyHandlerIsShown) {
    QTimer::singleShot(0, [] { throw std::runtime_error("from a timer"); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return !errors.empty(); }, 2000));
    EXPECT_EQ(errors, std::vector<QString>{"from a timer"});
}

// Assistive technology reads each panel's text in its name. (The event that
// announces a change reaches a handler only while a platform bridge is
// active, which the headless platform has none of; the name is what it reads.)
TEST_F(Form, StatusPanelsSpeakTheirTexts) {
    Connect();
    const auto name = [&](int i) {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(form->StatusPanel(i));
        return a != nullptr ? a->text(QAccessible::Name) : QString();
    };
    EXPECT_EQ(name(0), "Link status: CAM LINK OK");
    EXPECT_EQ(name(1), "Last frame sent: 3110010000000000000000000000");
    EXPECT_EQ(name(2), "Last reply");
    port->open = false;
    port->onHangUp();
    EXPECT_EQ(name(0), "Link status: Device lost, reconnecting");
    EXPECT_EQ(name(1), "Last frame sent: 3110010000000000000000000000");
}

// Every link status shows whole, with the Reconnect button and the two
// echoes beside it.
TEST_F(Form, StatusBarShowsEveryTextWhole) {
    Start();
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    QLabel* panel0 = form->StatusPanel(0);
    for (const char* text : {kTextConnecting, kTextConnectFail, kTextLinkOk, kTextRetry,
                             kTextNoAnswer, kTextNoCamera, kTextDeviceLost}) {
        form->SetStatusText(kPanelLink, text);
        QApplication::processEvents();
        EXPECT_GE(panel0->contentsRect().width(), panel0->fontMetrics().horizontalAdvance(text))
            << text;
    }
    EXPECT_TRUE(form->ReconnectButton()->isVisible());
    const int barWidth = form->statusBar()->width();
    EXPECT_LE(form->ReconnectButton()->geometry().right(), barWidth);
    for (int i = 1; i < 3; ++i) {
        EXPECT_LE(form->StatusPanel(i)->geometry().right(), barWidth) << i;
        EXPECT_GE(form->StatusPanel(i)->width(), form->StatusPanel(i)->minimumWidth()) << i;
    }
    EXPECT_GE(form->width(), 640);
}

// A manual reconnect that fails leaves no exchange waiting for an answer
// from a closed port, and the device is looked for once a second.
TEST_F(Form, FailedReconnectKeepsLookingForTheDevice) {
    struct Row {
        const char* name;
        bool hungUp;  // else from a working link, a query outstanding
        const char* panel0;
    } rows[] = {
        {"after a hang-up", true, kTextDeviceLost},
        {"from a working link", false, kTextConnectFail},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        form.reset();
        errors.clear();
        Connect();
        if (r.hungUp) {
            port->open = false;
            port->onHangUp();
        } else {
            form->Link().ReleaseLink();
            form->PageControl1->setCurrentIndex(5);
            ASSERT_FALSE(form->Link().CanSend());
        }
        port->failOpen = true;
        form->ReconnectButton()->click();
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(Panel(0), r.panel0);
        EXPECT_TRUE(form->Link().CanSend());
        EXPECT_FALSE(form->BusyCursorShown());
        EXPECT_FALSE(form->PageControl1->isEnabled());
        port->failOpen = false;
        port->writes.clear();
        ASSERT_TRUE(QTest::qWaitFor([&] { return port->open; }, 3000));
        EXPECT_EQ(port->writes, std::vector<Bytes>{Hex("05")});
        EXPECT_EQ(errors.size(), 1u);  // the search itself says nothing
    }
}

// Without a hook errors go to boxes that do not stop the program; the same
// failure again raises the box already open instead of piling up another.
TEST(ErrorDisplay, SameTextRaisesTheBoxAlreadyOpen) {
    const TErrorHook old = SetErrorHook({});
    const auto boxes = [] {
        int n = 0;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            n += qobject_cast<QMessageBox*>(w) != nullptr && w->isVisible() ? 1 : 0;
        }
        return n;
    };
    ShowErrorMessage("Write error (5), Input/output error");
    ShowErrorMessage("Write error (5), Input/output error");
    EXPECT_EQ(boxes(), 1);
    ShowErrorMessage("Output buffer is full. Please check comm status.");
    EXPECT_EQ(boxes(), 2);
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (qobject_cast<QMessageBox*>(w) != nullptr) {
            w->close();
        }
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(boxes(), 0);
    SetErrorHook(old);
}

// Where a run starts, and what is worth remembering for the next.
TEST(StartDevice, DeviceThenSimulateThenRememberedThenCom1) {
    struct Row {
        const char* device;
        bool simulate;
        const char* remembered;
        TStartDevice want;
    } rows[] = {
        {"/dev/ttyUSB0", true, "/dev/ttyS1", {"/dev/ttyUSB0", false, false}},
        {"", true, "/dev/ttyS1", {"", true, false}},
        {"",
         false,
         "/dev/serial/by-id/usb-FTDI-if00",
         {"/dev/serial/by-id/usb-FTDI-if00", false, true}},
        {"", false, "", {"", false, false}},
    };
    for (const Row& r : rows) {
        const TStartDevice got = StartDevice(r.device, r.simulate, r.remembered);
        EXPECT_EQ(got.device, r.want.device) << r.device << r.remembered;
        EXPECT_EQ(got.virtualCamera, r.want.virtualCamera) << r.device << r.remembered;
        EXPECT_EQ(got.remembered, r.want.remembered) << r.device << r.remembered;
    }
    for (const auto& [path, worth] :
         {std::pair{"/dev/pts/3", false}, std::pair{"", false}, std::pair{"/tmp/cam-link", true},
          std::pair{"/dev/ttyUSB0", true}}) {
        EXPECT_EQ(WorthRemembering(path), worth) << path;
    }
}

// A remembered port that is gone opens nothing and shows no error: the
// status says so and the Port menu is the way on.
TEST_F(Form, RememberedPortThatIsGone) {
    auto p = std::make_unique<test::FakePanelPort>();
    p->device = "/dev/zp-unplugged-adapter";
    port = p.get();
    TStartOptions options;
    options.pause = [](int) {};
    options.rememberedPort = true;
    form = std::make_unique<TForm1>(std::move(p), options);
    QCoreApplication::processEvents();  // the port opens on the first turn
    EXPECT_EQ(Panel(0), kTextPortAbsent);
    EXPECT_EQ(port->opens, 0);
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(form->windowTitle(), "26x Zoom \u2014 /dev/zp-unplugged-adapter");
}

// Hot-plug: a port that appears while the lost device is looked for is
// tried at once, not at the next once-a-second poll.
TEST_F(Form, DeviceThatComesBackIsReopenedAtOnce) {
    struct PipeMonitor : IPortMonitor {
        int fds[2] = {-1, -1};
        PipeMonitor() { EXPECT_EQ(pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0); }
        ~PipeMonitor() override {
            close(fds[0]);
            close(fds[1]);
        }
        int Fd() const override { return fds[0]; }
        bool Read(TPortChange& change) override {
            char c = 0;
            if (read(fds[0], &c, 1) != 1) {
                return false;
            }
            change = {c == '+', "ttyUSB0"};
            return true;
        }
    };
    auto monitor = std::make_shared<PipeMonitor>();
    auto p = std::make_unique<test::FakePanelPort>();
    port = p.get();
    TStartOptions options;
    options.pause = [](int) {};
    options.portMonitor = monitor;
    form = std::make_unique<TForm1>(std::move(p), options);
    QCoreApplication::processEvents();  // the port opens on the first turn
    port->Deliver(Hex("06"));
    port->open = false;
    port->onHangUp();
    port->writes.clear();
    const int opens = port->opens;
    ASSERT_EQ(write(monitor->fds[1], "-", 1), 1);  // a port went: nothing to do
    QTest::qWait(100);
    EXPECT_EQ(port->opens, opens);
    ASSERT_EQ(write(monitor->fds[1], "+", 1), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return port->open; }, 400));  // well before the poll
    EXPECT_EQ(port->writes, std::vector<Bytes>{Hex("05")});
}

// A chosen port that does not open: the usual error, and the status names
// the device.
TEST_F(Form, ChosenPortThatFailsIsNamed) {
    Connect();
    port->failOpen = true;
    form->ChoosePort("/dev/zp-missing-adapter");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0].startsWith("Unable to open specified device /dev/zp-missing-adapter"));
    EXPECT_EQ(Panel(0), "Comm. Connecting fail: zp-missing-adapter");
    EXPECT_EQ(form->windowTitle(), "26x Zoom \u2014 /dev/zp-missing-adapter");
    EXPECT_FALSE(form->PageControl1->isEnabled());
}

// The port that reached the camera is what the next run opens; a
// pseudo-terminal's number, however it was typed, is not kept.
TEST_F(Form, PortThatReachedTheCameraIsRemembered) {
    QSettings().remove(kSettingPort);
    Connect();
    EXPECT_EQ(RememberedPort(), "/dev/ttyS0");
    const struct {
        const char* chosen;
        const char* remembered;
    } rows[] = {
        {"pts/5", "/dev/ttyS0"},
        {"/dev/ttyUSB3", "/dev/ttyUSB3"},
        {"/dev/./pts/6", "/dev/ttyUSB3"},
    };
    for (const auto& r : rows) {
        form->ChoosePort(r.chosen);
        port->Deliver(Hex("06"));
        ASSERT_EQ(Panel(0), "CAM LINK OK") << r.chosen;
        EXPECT_EQ(RememberedPort(), r.remembered) << r.chosen;
    }
    EXPECT_EQ(StartDevice("", false, RememberedPort()).device, "/dev/ttyUSB3");
}

// The traffic view keeps its bound, misses nothing while paused, filters,
// and saves the rows as the log writes them.
TEST(TrafficModel, BoundPauseFilterAndText) {
    const auto origin = std::chrono::steady_clock::now();
    TTrafficModel model(origin, 3);
    const auto event = [&](TTrafficKind kind, test::Bytes bytes) {
        TTrafficEvent e;
        e.at = origin + std::chrono::milliseconds(1500);
        e.wall = std::chrono::system_clock::now();
        e.kind = kind;
        e.direction = kind == TTrafficKind::Frame    ? TDirection::ToCamera
                      : kind == TTrafficKind::Answer ? TDirection::FromCamera
                                                     : TDirection::Link;
        e.bytes = std::move(bytes);
        e.count = 939;
        return e;
    };
    const test::Bytes colQuery = Hex("02 31 1B 00 00 00 00 00 00 00 00 00 00 00 00 00 03 AF");
    const test::Bytes lensQuery = Hex("02 31 21 00 00 00 00 00 00 00 00 00 00 00 00 00 03 A9");
    for (int i = 0; i < 5; ++i) {
        model.OnTraffic(event(TTrafficKind::Frame, i % 2 ? lensQuery : colQuery));
    }
    EXPECT_EQ(model.rowCount(), 3);
    EXPECT_EQ(model.Event(0).bytes, colQuery);  // the third, the oldest kept
    model.SetPaused(true);
    model.OnTraffic(event(TTrafficKind::Answer, Hex("15")));
    model.OnTraffic(event(TTrafficKind::Timeout, {}));
    EXPECT_EQ(model.rowCount(), 3);
    model.SetPaused(false);
    ASSERT_EQ(model.rowCount(), 3);
    EXPECT_EQ(model.Event(2).kind, TTrafficKind::Timeout);
    EXPECT_EQ(model.data(model.index(2, TTrafficModel::kMeaning), Qt::DisplayRole).toString(),
              "no answer within 939 ms");
    EXPECT_FALSE(model.data(model.index(2, TTrafficModel::kKind), Qt::DecorationRole).isNull());

    TTrafficFilter filter;
    filter.setSourceModel(&model);
    const struct {
        const char* name;
        uint8_t group;
        TTrafficFilter::TKinds kinds;
        bool troubleOnly;
        int rows;
    } rows[] = {
        {"everything", 0, TTrafficFilter::kAllKinds, false, 3},
        {"errors only: the NAK and the time-out", 0, TTrafficFilter::kAllKinds, true, 2},
        {"the colour page", kGroupColour, TTrafficFilter::kAllKinds, false, 1},
        {"the lens page, gone by now", kGroupLens, TTrafficFilter::kAllKinds, false, 0},
        {"frames sent", 0, TTrafficFilter::kFrames, false, 1},
        {"control bytes", 0, TTrafficFilter::kControl, false, 1},
        {"link events", 0, TTrafficFilter::kLinkEvents, false, 1},
    };
    for (const auto& r : rows) {
        filter.SetGroup(r.group);
        filter.SetKinds(r.kinds);
        filter.SetTroubleOnly(r.troubleOnly);
        EXPECT_EQ(filter.rowCount(), r.rows) << r.name;
    }
    EXPECT_EQ(model.Line(0), TrafficLine(model.Event(0), origin));
    EXPECT_EQ(model.Line(0).substr(0, 6), "1.500\t");
}

// A log that cannot be written is said so, and the panel goes on without
// it; one that can gets every event, the view's rows in the same words.
TEST_F(Form, TrafficLogAndViewTellTheSameRows) {
    Start();
    EXPECT_FALSE(form->StartLog("/nonexistent-folder/traffic.log"));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(
        errors[0].startsWith("Cannot write the traffic log "
                             "/nonexistent-folder/traffic.log: No such file or directory"))
        << errors[0].toStdString();
    EXPECT_FALSE(form->Log().IsOpen());

    QTemporaryDir dir;
    const QString path = dir.filePath("traffic.log");
    ASSERT_TRUE(form->StartLog(path.toStdString()));
    TTrafficModel* model = form->Traffic()->Model();
    const int before = model->rowCount();
    port->Deliver(Hex("06"));
    port->Deliver(Hex("06"));
    form->StopLog();
    QString error;
    ASSERT_TRUE(form->Traffic()->Save(dir.filePath("saved.txt"), error)) << error.toStdString();
    QFile log(path);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), model->rowCount() - before);
    for (int i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].toStdString(), model->Line(before + i));
    }
    EXPECT_TRUE(lines.join("\n").contains("C.ID \u00B7 query title part 0"));
    QFile text(dir.filePath("saved.txt"));
    ASSERT_TRUE(text.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(text.readAll()).count('\n'), model->rowCount());
}

}  // namespace
}  // namespace zp
