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
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
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

// The window's port, time-stamping every transmission: frames and control bytes.
class TStampingPort : public zp::TCommPort {
  public:
    struct TSent {
        TClock::time_point at;
        bool frame;
    };
    int32_t TransmitData(const void* data, int32_t count) override {
        sent.push_back({TClock::now(), count > 1});
        return zp::TCommPort::TransmitData(data, count);
    }
    bool TransmitByte(uint8_t b) override {
        sent.push_back({TClock::now(), false});
        return zp::TCommPort::TransmitByte(b);
    }
    std::vector<TSent> sent;
};

// A 2 ms timer on the main thread: each beat later than that is a stall.
class THeartbeat {
  public:
    static constexpr int kPeriodMs = 2;
    THeartbeat() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(kPeriodMs);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const auto now = TClock::now();
            if (running_) {
                late_.push_back(std::max(0.0, MsSince(last_, now) - kPeriodMs));
            }
            last_ = now;
            running_ = true;
        });
    }
    void Start() { timer_.start(); }
    void Stop() { timer_.stop(); }
    std::vector<double> Lateness() const { return late_; }

  private:
    QTimer timer_;
    TClock::time_point last_;
    bool running_ = false;
    std::vector<double> late_;
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

    THeartbeat beat;
    beat.Start();
    zp::TForm1 form(std::move(port), options);
    form.show();
    QApplication::processEvents();
    const auto shown = TClock::now();
    auto idle = [&] { return form.Link().Idle() && form.PageControl1->isEnabled(); };
    if (!WaitFor(idle)) {
        Fail("the link did not come up");
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
    std::printf(
        "main-thread stalls (heartbeat every %d ms, %zu beats): longest %.1f ms, "
        "99th percentile %.1f ms, %ld of 30 ms or more\n",
        THeartbeat::kPeriodMs, late.size(), longest, Percentile(late, 0.99),
        static_cast<long>(over30));

    // Every transmission is paced: what a gap holds beyond its pause is
    // overhead (the camera's own answer time on a pseudo-terminal included).
    std::vector<double> overhead;
    const auto& s = stamps->sent;
    for (size_t i = 1; i < s.size(); ++i) {
        const double gap = MsSince(s[i - 1].at, s[i].at) - zp::kSendPauseMs;
        // Gaps that wait for the operator or a timer are not exchanges.
        if (gap >= 0 && gap < 50) {
            overhead.push_back(gap);
        }
    }
    std::printf(
        "overhead between paced transmissions (%zu gaps of %zu sends): median %.2f ms, "
        "99th percentile %.2f ms\n",
        overhead.size(), s.size(), Percentile(overhead, 0.5), Percentile(overhead, 0.99));
    std::printf(
        "start-up: window shown %.0f ms, CAM LINK OK and the first page read %.0f ms "
        "after main()\n",
        MsSince(processStart, shown), MsSince(processStart, linked));
    camera.Stop();
    return 0;
}
