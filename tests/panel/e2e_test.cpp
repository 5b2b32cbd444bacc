// The window against the virtual camera, through the real serial component.

#include <QAction>
#include <QSettings>
#include <QTabBar>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "panel/widgets/radio_group.h"
#include "serial/main_thread.h"
#include "tests/panel/e2e_fixture.h"

namespace zp::test {
namespace {

using camera::TFault;
using std::chrono::milliseconds;

const Bytes kTitleQuery = Hex("02 31 10 01 00 00 00 00 00 00 00 00 00 00 00 00 03 B9");
const Bytes kEnq = {0x05};
const Bytes kAck = {0x06};

TEST_F(EndToEnd, StartUp) {
    Open();
    EXPECT_EQ(Panel(0), "Comm1. Connected");
    ASSERT_TRUE(WaitFor([&] { return form->PageControl1->isEnabled(); }));
    EXPECT_EQ(Panel(0), "CAM LINK OK");
    ASSERT_TRUE(WaitLine(2));
    const std::vector<Bytes> line = Line();
    EXPECT_EQ(line[0], kEnq);
    EXPECT_EQ(line[1], kTitleQuery);
    // The title page reads its four parts one after another: panel 1 shows
    // the latest of its queries.
    EXPECT_TRUE(Panel(1).startsWith("311001")) << Panel(1).toStdString();
}

TEST_F(EndToEnd, NakToTheLinkCheck) {
    camera.SetFault(TFault::Nak, 1);
    Open();
    ASSERT_TRUE(WaitFor([&] { return Panel(0) == "Retry Please!"; }));
    EXPECT_FALSE(form->PageControl1->isEnabled());
    EXPECT_TRUE(form->BusyCursorShown());
}

TEST_F(EndToEnd, EveryPageQueriesItsGroup) {
    OpenConnected();
    const uint8_t groups[] = {0x21, 0x1A, 0x48, 0x18, 0x1B, 0x47, 0x23, 0x52, 0x54};
    for (int i = 1; i <= 9; ++i) {
        camera.ClearReceived();
        QTabBar* bar = form->PageControl1->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(i).center());
        ASSERT_EQ(form->PageControl1->currentIndex(), i);
        ASSERT_TRUE(WaitLine(1)) << i;
        Bytes want = {0x02, 0x31, groups[i - 1], 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x03, 0};
        uint8_t sum = 0;
        for (int k = 0; k < 17; ++k) {
            sum = static_cast<uint8_t>(sum + want[static_cast<size_t>(k)]);
        }
        want[17] = static_cast<uint8_t>(0 - sum);
        EXPECT_EQ(Line()[0], want) << i;
        ASSERT_TRUE(WaitIdle()) << i;
        if (i == 5) {
            EXPECT_EQ(Panel(1), "311B000000000000000000000000");
            EXPECT_EQ(Panel(2).left(4), "A01B");
        }
    }
}

TEST_F(EndToEnd, PageChangeRefusedWhileAnExchangeIsOutstanding) {
    OpenConnected();
    camera.SetFault(TFault::Silent, 1);
    camera.ClearReceived();
    form->PageControl1->setCurrentIndex(5);
    ASSERT_TRUE(WaitLine(1));
    camera.ClearReceived();
    form->PageControl1->setCurrentIndex(2);
    EXPECT_EQ(form->PageControl1->currentIndex(), 5);
    QApplication::processEvents();
    EXPECT_TRUE(Line().empty());
}

TEST_F(EndToEnd, MalformedFrameIsAcknowledgedAndTheLinkCheckedAgain) {
    OpenConnected();
    camera.ClearReceived();
    camera.SetFault(TFault::MalformedEnd, 1);
    form->PageControl1->setCurrentIndex(5);
    // The query, our one ACK for the bad frame; the camera's ACK to that
    // confirms the link and the page is asked again.
    ASSERT_TRUE(WaitFor([&] { return Frames().size() >= 2; }));
    ASSERT_TRUE(WaitIdle());
    const std::vector<Bytes> line = Line();
    ASSERT_GE(line.size(), 3u);
    EXPECT_EQ(line[0].size(), 18u);
    EXPECT_EQ(line[1], kAck);
    EXPECT_EQ(line[2], line[0]);
    EXPECT_EQ(Panel(0), "CAM LINK OK");
}

TEST_F(EndToEnd, FramesAreAtLeastAHundredMillisecondsApart) {
    Open(true);
    ASSERT_TRUE(WaitFor([&] { return form->PageControl1->isEnabled(); }));
    ASSERT_TRUE(WaitIdle());
    for (int i : {5, 6, 7}) {
        form->PageControl1->setCurrentIndex(i);
        ASSERT_TRUE(WaitIdle());
    }
    const std::vector<camera::TReceived> rx = camera.Received();
    ASSERT_GE(rx.size(), 6u);
    for (size_t i = 1; i < rx.size(); ++i) {
        EXPECT_GE(rx[i].at - rx[i - 1].at, milliseconds(95)) << i;
    }
}

// A pause does not sleep, yet holds back what a sleep held back: what is
// posted (painting, the accessibility bridge) runs during it; timers, the
// serial component's calls and what waits for its end run after it. An
// assistive tool's action during it finds the link taken: a page change is
// refused and a control sends nothing.
TEST_F(EndToEnd, DuringAPauseOnlyPostedWorkGoesOn) {
    Open(true);
    ASSERT_TRUE(WaitFor([&] { return form->PageControl1->isEnabled(); }));
    ASSERT_TRUE(WaitIdle());
    std::vector<std::string> seen;
    auto note = [&](const char* what) {
        seen.push_back(std::string(what) + (Pausing() ? " during" : " after"));
    };
    std::thread worker;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, [&] { note("timer"); });
    QMetaObject::invokeMethod(
        qApp,
        [&] {
            note("posted");
            timer.start(0);
            AfterPause([&] { note("after-pause"); });
            worker = std::thread([&] { Synchronize([&] { note("serial call"); }); });
            form->PageControl1->setCurrentIndex(6);
            form->Page(5)->findChild<TRadioGroup*>("Color")->SetItemIndex(1);
        },
        Qt::QueuedConnection);
    form->PageControl1->setCurrentIndex(5);  // its query waits its pause first
    ASSERT_TRUE(WaitIdle());
    ASSERT_TRUE(WaitFor([&] { return seen.size() == 4; }));
    worker.join();
    std::sort(seen.begin(), seen.end());
    const std::vector<std::string> want = {"after-pause after", "posted during",
                                           "serial call after", "timer after"};
    EXPECT_EQ(seen, want);
    EXPECT_EQ(form->PageControl1->currentIndex(), 5);
    EXPECT_EQ(Frames().back(), Hex("02 31 1B 00 00 00 00 00 00 00 00 00 00 00 00 00 03 AF"));
    for (const Bytes& f : Frames()) {
        EXPECT_NE(f[1], 0x21) << "a set command went out";
    }
}

TEST_F(EndToEnd, SilentCameraGetsTheFrameThreeTimesThenThePanelIsUsable) {
    OpenConnected();
    camera.ClearReceived();
    camera.SetFault(TFault::Silent, 3);
    form->PageControl1->setCurrentIndex(5);
    ASSERT_TRUE(WaitFor([&] { return Panel(0) == kTextNoAnswer; }, 15000));
    const std::vector<Bytes> frames = Frames();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[1], frames[0]);
    EXPECT_EQ(frames[2], frames[0]);
    EXPECT_TRUE(form->Link().CanSend());
    EXPECT_FALSE(form->BusyCursorShown());
    // The operator goes on.
    form->PageControl1->setCurrentIndex(6);
    EXPECT_EQ(form->PageControl1->currentIndex(), 6);
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Panel(0), "CAM LINK OK");
}

TEST_F(EndToEnd, HangUpAndReconnectThroughAMovedLink) {
    const std::string link =
        (std::filesystem::temp_directory_path() / ("zp-cam-" + std::to_string(getpid()))).string();
    ASSERT_TRUE(camera.Start(link)) << "start with link";
    auto port = std::make_unique<TCommPort>();
    port->SetDeviceName(link);
    TStartOptions options;
    options.pause = [](int) {};
    form = std::make_unique<TForm1>(std::move(port), options);
    QCoreApplication::processEvents();  // the port opens on the first turn
    ASSERT_TRUE(WaitFor([&] { return form->PageControl1->isEnabled(); }));
    ASSERT_TRUE(WaitIdle());

    camera.HangUp();
    ASSERT_TRUE(WaitFor([&] { return Panel(0) == kTextDeviceLost; }));
    EXPECT_FALSE(form->PageControl1->isEnabled());

    ASSERT_TRUE(camera.Replug(link));
    ASSERT_TRUE(WaitFor([&] { return Panel(0) == "CAM LINK OK"; }, 15000));
    EXPECT_TRUE(form->PageControl1->isEnabled());
    std::filesystem::remove(link);
}

// The Port menu lists the machine's ports, the virtual camera and another
// device; choosing one opens it, checks the link there and names it in the
// title; a port that reached the camera is remembered, the virtual camera
// is not.
TEST_F(EndToEnd, PortMenuOpensWhatIsChosen) {
    const std::string link =
        (std::filesystem::temp_directory_path() / ("zp-menu-" + std::to_string(getpid()))).string();
    ASSERT_TRUE(camera.Start(link)) << "start with link";
    camera::TCameraHost demo;
    auto port = std::make_unique<TCommPort>();
    port->SetDeviceName("/dev/zp-no-such-device");
    TStartOptions options;
    options.pause = [](int) {};
    options.listPorts = [&] {
        return TPortMenuList{{{link, "Test adapter (ttyUSB9)", false},
                              {"/dev/zp-no-uart", "On-board serial port (ttyS0)", true}},
                             ""};
    };
    options.startVirtualCamera = [&] {
        const camera::TStartResult started = demo.Start();
        if (!started) {
            throw std::runtime_error(started.error);
        }
        return started.path;
    };
    QSettings().remove(kSettingPort);
    form = std::make_unique<TForm1>(std::move(port), options);
    QCoreApplication::processEvents();  // the port opens on the first turn
    ASSERT_EQ(errors.size(), 1u);       // the device it started on is not there
    EXPECT_TRUE(errors[0].endsWith("Choose a port in the Port menu."));

    const auto action = [&](const QString& text) -> QAction* {
        form->FillPortMenu();
        for (QAction* a : form->PortMenu()->actions()) {
            if (a->text() == text) {
                return a;
            }
        }
        return nullptr;
    };
    ASSERT_NE(action("On-board serial port (ttyS0) (system console)"), nullptr);
    ASSERT_NE(action("&Other device..."), nullptr);
    ASSERT_NE(action("&Reconnect"), nullptr);
    QAction* adapter = action("Test adapter (ttyUSB9)");
    ASSERT_NE(adapter, nullptr);
    adapter->trigger();
    ASSERT_TRUE(WaitFor([&] { return Panel(0) == "CAM LINK OK"; }));
    EXPECT_EQ(form->windowTitle(), "26x Zoom \u2014 Test adapter (ttyUSB9)");
    EXPECT_TRUE(action("Test adapter (ttyUSB9)")->isChecked());
    EXPECT_EQ(QSettings().value(kSettingPort).toString().toStdString(), link);

    action("&Virtual camera (demo)")->trigger();
    EXPECT_EQ(form->windowTitle(), "26x Zoom \u2014 Virtual camera (demo)");
    ASSERT_TRUE(WaitFor([&] { return Panel(0) == "CAM LINK OK" && form->Link().Idle(); }));
    EXPECT_NE(form->Device(), link);
    EXPECT_TRUE(action("&Virtual camera (demo)")->isChecked());
    EXPECT_EQ(QSettings().value(kSettingPort).toString().toStdString(), link);
    form.reset();
    demo.Stop();
    std::filesystem::remove(link);
}

TEST_F(EndToEnd, DeviceThatCannotBeOpened) {
    auto port = std::make_unique<TCommPort>();
    port->SetDeviceName("/dev/zp-no-such-device");
    form = std::make_unique<TForm1>(std::move(port), TStartOptions{});
    QCoreApplication::processEvents();  // the port opens on the first turn
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0].startsWith("Unable to open specified device /dev/zp-no-such-device"))
        << errors[0].toStdString();
    EXPECT_EQ(Panel(0), "Comm. Connecting fail");
    EXPECT_TRUE(errors[0].endsWith("Choose a port in the Port menu."));
    EXPECT_FALSE(form->PageControl1->isEnabled());
}

}  // namespace
}  // namespace zp::test

namespace zp::test {
namespace {

TEST(CommPort, HasTheWindowsSettings) {
    TCommPort port;
    TVaComm& c = port.Comm1();
    EXPECT_EQ(c.Name(), "Comm1");
    EXPECT_EQ(c.Baudrate(), br9600);
    EXPECT_EQ(c.DeviceName(), "COM%d");
    EXPECT_EQ(c.Buffers().ReadSize(), 1024);
    EXPECT_EQ(c.Buffers().WriteSize(), 1024);
    EXPECT_EQ(c.Buffers().ReadTimeout(), 500);
    EXPECT_EQ(c.Buffers().WriteTimeout(), 500);
    EXPECT_EQ(c.WritePriority(), tpNormal);
    EXPECT_FALSE(c.DirectWrite());
    const TVaFlowControl& f = c.FlowControl();
    EXPECT_FALSE(f.OutCtsFlow() || f.OutDsrFlow() || f.XonXoffOut() || f.XonXoffIn() ||
                 f.DsrSensitivity() || f.TxContinueOnXoff());
    EXPECT_EQ(f.ControlDtr(), dtrDisabled);
    EXPECT_EQ(f.ControlRts(), rtsDisabled);
    // With port 1 and 9600 set by the window: the camera's line record.
    c.SetPortNum(1);
    c.SetUserBaudrate(9600);
    const DCB dcb = c.BuildDcb();
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, 0);
    EXPECT_EQ(dcb.StopBits, 0);
    EXPECT_EQ(dcb.XonLim, 256);
    EXPECT_EQ(dcb.XoffLim, 256);
    EXPECT_EQ(dcb.Flags, 0x0001u);
}

}  // namespace
}  // namespace zp::test
