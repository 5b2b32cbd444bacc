// How long the window stops answering: the real window, offscreen, against the
// virtual camera, through the start-up title read, a round of all ten pages
// and five zoom press/release pairs, with a heartbeat timer on the main thread
// whose lateness is the stall. Also the time each exchange takes beyond its
// pauses (a pseudo-terminal has no line time), and the start-up times.

#include <QApplication>
#include <QElapsedTimer>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "camera/camera_host.h"
#include "link/camera_link.h"
#include "panel/comm_port.h"
#include "panel/pages/lens_page.h"
#include "panel/qt_seams.h"
#include "panel/uZoom.h"

namespace {

using TClock = std::chrono::steady_clock;

double MsSince(TClock::time_point from, TClock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// The window's port, time-stamping every transmission (frames and control
// bytes) and every read that brought bytes.
class TStampingPort : public zp::TCommPort {
  public:
    int32_t TransmitData(const void* data, int32_t count) override {
        sent.push_back(TClock::now());
        return zp::TCommPort::TransmitData(data, count);
    }
    bool TransmitByte(uint8_t b) override {
        sent.push_back(TClock::now());
        return zp::TCommPort::TransmitByte(b);
    }
    std::string ReceivePending() override {
        std::string bytes = zp::TCommPort::ReceivePending();
        if (!bytes.empty()) {
            received.push_back(TClock::now());
        }
        return bytes;
    }
    std::vector<TClock::time_point> sent;
    std::vector<TClock::time_point> received;
};

// A ping posted to the main thread every 2 ms from a thread of its own, as a
// desktop's ping or a screen reader's call arrives: how late each is answered
// is the stall. (A timer of the main thread would not do: a pause holds the
// main thread's timers back as a sleep did, on purpose.)
class THeartbeat {
  public:
    static constexpr int kPeriodMs = 2;
    ~THeartbeat() { Stop(); }
    void Start() {
        running_ = true;
        thread_ = std::thread([this] {
            while (running_) {
                const auto sent = TClock::now();
                QMetaObject::invokeMethod(
                    &context_,
                    [this, sent] {
                        late_.push_back(MsSince(sent, TClock::now()));
                        if (onBeat) {
                            onBeat();
                        }
                    },
                    Qt::QueuedConnection);
                std::this_thread::sleep_for(std::chrono::milliseconds(kPeriodMs));
            }
        });
    }
    void Stop() {
        running_ = false;
        if (thread_.joinable()) {
            thread_.join();
        }
        QApplication::processEvents();
    }
    std::vector<double> Lateness() const { return late_; }
    // Runs on the main thread with each ping, during pauses too.
    std::function<void()> onBeat;

  private:
    QObject context_;
    std::atomic<bool> running_{false};
    std::thread thread_;
    std::vector<double> late_;
};

// The time the window first paints.
class TFirstPaint : public QObject {
  public:
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() == QEvent::Paint && !painted) {
            painted = true;
            at = TClock::now();
        }
        return QObject::eventFilter(watched, e);
    }
    bool painted = false;
    TClock::time_point at;
};

bool WaitFor(const std::function<bool()>& done, int timeoutMs = 20000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

void RunFor(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    const auto i = static_cast<size_t>(p * static_cast<double>(v.size() - 1));
    return v[i];
}

void Fail(const char* what) {
    std::fprintf(stderr, "stall_bench: %s\n", what);
    std::exit(1);
}

// The pause as it was: the main thread slept.
void SleepMs(int milliseconds) {
    QThread::msleep(static_cast<unsigned long>(milliseconds));
}

// The window through the title read, ten pages and five zoom holds; prints
// its stalls and the overhead of its exchanges.
void Scenario(const char* name, bool sleeping, TClock::time_point processStart) {
    zp::camera::TCameraHost camera;
    const zp::camera::TStartResult started = camera.Start();
    if (!started) {
        Fail(started.error.c_str());
    }
    auto port = std::make_unique<TStampingPort>();
    TStampingPort* stamps = port.get();
    port->SetDeviceName(started.path);
    zp::TStartOptions options;
    options.virtualCamera = true;
    if (sleeping) {
        options.pause = SleepMs;
    }

    THeartbeat beat;
    beat.Start();
    const auto created = TClock::now();
    zp::TForm1 form(std::move(port), options);
    if (sleeping) {
        form.findChild<zp::TLensPage*>()->SetReleasePause(SleepMs);
    }
    form.show();
    TFirstPaint firstPaint;
    form.installEventFilter(&firstPaint);
    if (!WaitFor([&] { return firstPaint.painted; })) {
        Fail("the window never painted");
    }
    const auto shown = firstPaint.at;
    // Read with each ping: the query that follows the link check waits its
    // pause before the loop that waits here runs again.
    bool linkUp = false;
    TClock::time_point linkOk;
    beat.onBeat = [&] {
        if (!linkUp && form.StatusPanel(0)->text() == zp::kTextLinkOk) {
            linkUp = true;
            linkOk = TClock::now();
        }
    };
    if (!WaitFor([&] { return linkUp; })) {
        Fail("the link did not come up");
    }
    beat.onBeat = nullptr;
    auto idle = [&] { return form.Link().Idle() && form.PageControl1->isEnabled(); };
    if (!WaitFor(idle)) {
        Fail("the first page was not read");
    }
    const auto linked = TClock::now();
    // The title read has started with the link: wait until it is through.
    RunFor(300);
    if (!WaitFor(idle)) {
        Fail("the title read did not finish");
    }

    for (int i = 1; i <= form.PageControl1->count(); ++i) {
        form.PageControl1->setCurrentIndex(i % form.PageControl1->count());
        if (!WaitFor(idle)) {
            Fail("a page did not finish reading");
        }
    }
    form.PageControl1->setCurrentIndex(1);
    WaitFor(idle);
    auto* tele = form.findChild<zp::TMotionButton*>("TeleSW");
    if (tele == nullptr) {
        Fail("no TeleSW button");
    }
    for (int i = 0; i < 5; ++i) {
        QTest::mousePress(tele, Qt::LeftButton);
        RunFor(150);
        QTest::mouseRelease(tele, Qt::LeftButton);
        if (!WaitFor(idle)) {
            Fail("a zoom stop did not finish");
        }
    }
    beat.Stop();

    const std::vector<double> late = beat.Lateness();
    const double longest = late.empty() ? 0 : *std::max_element(late.begin(), late.end());
    const auto over30 = std::count_if(late.begin(), late.end(), [](double l) { return l >= 30; });
    std::printf("%s\n", name);
    std::printf(
        "  main-thread stalls (a ping every %d ms, %zu pings): longest %.1f ms, "
        "99th percentile %.1f ms, %ld of 30 ms or more\n",
        THeartbeat::kPeriodMs, late.size(), longest, Percentile(late, 0.99),
        static_cast<long>(over30));

    // Every transmission is paced from what decided it: the bytes read just
    // before it, or the transmission before it. What it takes beyond its pause
    // is overhead.
    std::vector<double> overhead;
    const auto& s = stamps->sent;
    const auto& r = stamps->received;
    for (size_t i = 1; i < s.size(); ++i) {
        auto from = s[i - 1];
        const auto read = std::lower_bound(r.begin(), r.end(), s[i]);
        if (read != r.begin() && *std::prev(read) > from) {
            from = *std::prev(read);
        }
        const double gap = MsSince(from, s[i]) - zp::kSendPauseMs;
        // Gaps that wait for the operator or a timer are not exchanges.
        if (gap >= 0 && gap < 50) {
            overhead.push_back(gap);
        }
    }
    std::printf(
        "  overhead between paced transmissions (%zu gaps of %zu sends): median %.2f ms, "
        "99th percentile %.2f ms\n",
        overhead.size(), s.size(), Percentile(overhead, 0.5), Percentile(overhead, 0.99));
    std::printf(
        "  start-up: first paint %.0f ms after the window was made (%.0f ms after main()), "
        "CAM LINK OK %.0f ms and the title read %.0f ms after it was made\n",
        MsSince(created, shown), MsSince(processStart, shown), MsSince(created, linkOk),
        MsSince(created, linked));
    camera.Stop();
}

}  // namespace

int main(int argc, char** argv) {
    const auto processStart = TClock::now();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // The window remembers its place: not in the user's settings.
    QTemporaryDir settings;
    qputenv("XDG_CONFIG_HOME", settings.path().toLocal8Bit());
    zp::TZoomApplication app(argc, argv);
    zp::InstallQtSeams();
    Scenario("pause as it is (the main loop runs on):", false, processStart);
    Scenario("pause as a sleep (as before), same run:", true, processStart);
    return 0;
}
