// End-to-end: the real window and serial component, talking over a
// pseudo-terminal to the virtual camera. The bytes the camera receives are
// the assertions.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "camera/camera_host.h"
#include "panel/comm_port.h"
#include "panel/qt_seams.h"
#include "panel/uZoom.h"
#include "tests/support/frames.h"

namespace zp::test {

// Runs the Qt event loop until the condition holds or the time-out passes.
inline bool WaitFor(const std::function<bool()>& done, int timeoutMs = 10000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QTest::qSleep(1);
    }
    return true;
}

// The window's port, counting what the panel hands to the line.
class TCountingPort : public TCommPort {
  public:
    int32_t TransmitData(const void* data, int32_t count) override {
        sent += static_cast<size_t>(std::max(count, 0));
        return TCommPort::TransmitData(data, count);
    }
    bool TransmitByte(uint8_t b) override {
        ++sent;
        return TCommPort::TransmitByte(b);
    }
    size_t sent = 0;
};

class EndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        static bool installed = false;
        if (!installed) {
            InstallQtSeams();
            installed = true;
        }
        oldHook_ = SetErrorHook([this](const QString& t) { errors.push_back(t); });
        const camera::TStartResult started = camera.Start();
        ASSERT_TRUE(started) << started.error;
        path = started.path;
    }

    void TearDown() override {
        form.reset();
        camera.Stop();
        SetErrorHook(oldHook_);
    }

    // The window opens on this camera's line from now on (the fixture's own
    // camera until told otherwise); Line() and WaitIdle() watch it.
    void Use(camera::TCameraHost& host) {
        served_ = &host;
        path = host.Path();
    }

    // Opens the window on the camera's line; with realPause the link sleeps
    // its 100 ms before every send, otherwise not at all.
    void Open(bool realPause = false) {
        auto port = std::make_unique<TCountingPort>();
        port->SetDeviceName(path);
        comm = &port->Comm1();
        counting_ = port.get();
        cameraBase_ = served_->TotalReceivedBytes();
        TStartOptions options = startOptions;
        if (!realPause) {
            options.pause = [](int) {};
        }
        form = std::make_unique<TForm1>(std::move(port), options);
        // The window opens its port on the first turn of the main loop.
        QCoreApplication::processEvents();
    }

    // Opens and waits until the link is up, the first page has read what it
    // reads, and the camera has our last ACK: a test starts on a quiet line.
    void OpenConnected() {
        Open();
        ASSERT_TRUE(WaitFor([&] { return form->PageControl1->isEnabled(); }));
        ASSERT_TRUE(WaitIdle());
    }

    // Waits until no exchange is outstanding, nothing waits to go out (the
    // link may be free for the operator before a query is answered), and the
    // camera has received all that the panel sent.
    bool WaitIdle(int timeoutMs = 10000) {
        return WaitFor(
            [&] {
                return form->Link().Idle() &&
                       (counting_ == nullptr ||
                        served_->TotalReceivedBytes() - cameraBase_ >= counting_->sent);
            },
            timeoutMs);
    }

    // Waits, running the event loop, until the camera has received n units
    // (frames or control bytes). The write thread hands its transmit-empty
    // event to the main thread, so the loop must run meanwhile.
    bool WaitLine(size_t n, int timeoutMs = 10000) {
        return WaitFor([&] { return served_->Received().size() >= n; }, timeoutMs);
    }

    // Frames and control bytes the camera received, oldest first.
    std::vector<Bytes> Line() const {
        std::vector<Bytes> out;
        for (const camera::TReceived& r : served_->Received()) {
            out.push_back(r.bytes);
        }
        return out;
    }

    // Frames only (18 bytes), oldest first.
    std::vector<Bytes> Frames() const {
        std::vector<Bytes> out;
        for (const Bytes& b : Line()) {
            if (b.size() == 18) {
                out.push_back(b);
            }
        }
        return out;
    }

    QString Panel(int i) const { return form->StatusPanel(i)->text(); }

    camera::TCameraHost camera;
    std::string path;
    // What Open starts the window with; its pause is replaced unless real.
    TStartOptions startOptions;
    std::unique_ptr<TForm1> form;
    TVaComm* comm = nullptr;
    std::vector<QString> errors;

  private:
    TErrorHook oldHook_;
    camera::TCameraHost* served_ = &camera;
    TCountingPort* counting_ = nullptr;
    size_t cameraBase_ = 0;
};

}  // namespace zp::test
