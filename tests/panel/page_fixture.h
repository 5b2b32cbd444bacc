// What the page tests share: frames built from their payload, the window over
// a scripted port, and the window on a page through the virtual camera.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QRadioButton>
#include <QTest>
#include <algorithm>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "panel/uZoom.h"
#include "panel/widgets/radio_group.h"
#include "tests/panel/e2e_fixture.h"
#include "tests/support/panel_fakes.h"

namespace zp::test {

// A page's control, found by its object name. A missing one fails the test
// at once instead of crashing it on a null pointer.
template <class T>
T* Ctl(const QObject* page, const char* name) {
    T* c = page->findChild<T*>(name);
    if (c == nullptr) {
        throw std::runtime_error("no control " + std::string(name) + " of that class under " +
                                 page->objectName().toStdString());
    }
    return c;
}

// A click on a button's mark: a check or radio button takes clicks on its
// mark and text only, not on the rest of its width.
inline void ClickMark(QWidget* w) {
    QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(std::min(8, w->width() / 2), w->height() / 2));
}

// The window over a scripted port: the test plays the camera.
class PageScripted : public ::testing::Test {
  protected:
    // The link is up and the title page's first query is out.
    void Connect() {
        auto p = std::make_unique<FakePanelPort>();
        port = p.get();
        port->clock = &clock;
        TStartOptions options;
        options.pause = [this](int ms) { clock += ms; };
        form = std::make_unique<TForm1>(std::move(p), options);
        // The window opens its port on the first turn of the main loop.
        QCoreApplication::processEvents();
        port->Deliver({0x06});
    }

    // Lets the title page's read run its course: four parts, then display
    // and position.
    void ReadTitle() {
        for (int part = 0; part < 4; ++part) {
            Answer({0xA0, 0x10, 0x01, static_cast<uint8_t>(part)});
        }
        Answer({0xA0, 0x10, 0x00});
    }

    // Leaves the title query unanswered and frees the link.
    void SkipTitle() { form->Link().ReleaseLink(); }

    // Makes a page active; its query goes out and nothing written so far stays.
    void ShowPage(int index) {
        form->PageControl1->setCurrentIndex(index);
        ASSERT_EQ(form->PageControl1->currentIndex(), index);
        port->writes.clear();
    }

    // The window on one page after the title read, the page's query outstanding.
    void Open(int index) {
        Connect();
        ReadTitle();
        ShowPage(index);
        ASSERT_TRUE(Busy());
    }

    // The camera acknowledges the outstanding frame and answers it.
    void AnswerFrame(const Bytes& frame) {
        port->Deliver({0x06});
        port->Deliver(frame);
    }
    void Answer(const Bytes& payload) { AnswerFrame(Sealed(payload)); }

    // Queries the active page and answers it with the payload; true when
    // only the ACK went out in answer.
    bool Read(const Bytes& payload) {
        form->Page(form->PageControl1->currentIndex())->Query();
        port->writes.clear();
        Answer(payload);
        return port->writes == std::vector<Bytes>{{0x06}};
    }

    // The frames written, without the control bytes.
    std::vector<Bytes> FramesSent() const {
        std::vector<Bytes> out;
        for (const Bytes& w : port->writes) {
            if (w.size() == 18) {
                out.push_back(w);
            }
        }
        return out;
    }

    bool Busy() const { return !form->Link().CanSend(); }

    template <class T>
    T* Page(int i) const {
        return qobject_cast<T*>(form->Page(i));
    }

    FakePanelPort* port = nullptr;
    // Moved on by every pause; the port stamps its writes with it.
    int64_t clock = 0;
    std::unique_ptr<TForm1> form;
};

// The window on a page through the virtual camera. It stays hidden unless a
// test shows it: painting a shown window hands work to Qt's own thread pool,
// whose hand-over the thread sanitizer cannot see.
class PageEndToEnd : public EndToEnd {
  protected:
    // Opens the window and waits for the whole read of the title: four parts
    // and the display and position.
    void OpenAndReadTitle() {
        OpenConnected();
        ASSERT_TRUE(WaitFor([&] { return Frames().size() >= 5; }));
        ASSERT_TRUE(WaitIdle());
    }

    // Makes a page active and waits until its query is answered.
    void ShowPage(int index) {
        camera.ClearReceived();
        form->PageControl1->setCurrentIndex(index);
        ASSERT_TRUE(WaitFor([&] { return Frames().size() >= 1; }));
        ASSERT_TRUE(WaitIdle());
    }

    void OpenPage(int index) {
        OpenAndReadTitle();
        ShowPage(index);
    }

    // Runs an operator action and returns the frames that went out for it,
    // once answered. Where none is expected it waits briefly for a stray one.
    std::vector<Bytes> Do(const std::function<void()>& action, bool expectFrame = true) {
        camera.ClearReceived();
        action();
        const bool sent = WaitFor([&] { return !Frames().empty(); }, expectFrame ? 10000 : 300);
        if (expectFrame) {
            EXPECT_TRUE(sent);
        }
        EXPECT_TRUE(WaitIdle());
        QApplication::processEvents();
        return Frames();
    }
    std::vector<Bytes> Click(QWidget* w, bool expectFrame = true) {
        return Do([=] { ClickMark(w); }, expectFrame);
    }
    std::vector<Bytes> Pick(TRadioGroup* group, int item, bool expectFrame = true) {
        return Click(group->Button(item), expectFrame);
    }
};

}  // namespace zp::test
