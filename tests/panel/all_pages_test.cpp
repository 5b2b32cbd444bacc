// One operator's session against the virtual camera: every page in tab order,
// one setting changed on each, then every page read again from the camera.
// Nothing the panel sends may be refused, lost or repeated.

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <algorithm>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "panel/pages/agc_page.h"
#include "panel/pages/alc_page.h"
#include "panel/pages/aperture_page.h"
#include "panel/pages/blc_page.h"
#include "panel/pages/colour_page.h"
#include "panel/pages/lens_page.h"
#include "panel/pages/motion_page.h"
#include "panel/pages/other_page.h"
#include "panel/pages/position_page.h"
#include "panel/pages/title_page.h"
#include "panel/widgets/area_grid.h"
#include "panel/widgets/check_box.h"
#include "tests/panel/e2e_fixture.h"
#include "tests/panel/page_fixture.h"

namespace zp::test {
namespace {

// Frames as hexadecimal text, for readable differences.
std::vector<std::string> HexLines(const std::vector<Bytes>& frames) {
    std::vector<std::string> out;
    for (const Bytes& f : frames) {
        std::string line;
        for (uint8_t b : f) {
            static const char* const digits = "0123456789ABCDEF";
            line += line.empty() ? "" : " ";
            line += digits[b >> 4];
            line += digits[b & 0x0F];
        }
        out.push_back(line);
    }
    return out;
}

void PressButton(QPushButton* b) {
    QTest::mouseClick(b, Qt::LeftButton);
}

void Type(QLineEdit* edit, const QString& text) {
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, text);
}

// One operator action and the frames it must put on the line, in order.
struct Step {
    std::function<void()> act;
    std::vector<Bytes> frames;
};

struct Visit {
    int page;
    std::vector<Bytes> query;  // what opening the page sends
    std::vector<Step> change;  // the operator's change
    std::function<void(const camera::TCameraState&)> stored;
    std::vector<Step> reread;  // reads beyond the page query
    std::function<void()> shows;
};

class AllPages : public EndToEnd {
  protected:
    // Every exchange the camera did not answer with ACK and a data reply.
    void WatchRefusals() {
        camera.SetObserver([this](const camera::TExchange& ex) {
            using K = camera::TExchange::TKind;
            const bool answered = ex.out.size() == 19 && ex.out[0] == camera::kACK &&
                                  ex.out[1] == camera::kSTX && ex.out[2] == camera::kDataReply;
            const bool ok =
                ex.fault == camera::TFault::None &&
                (ex.kind == K::Enq || ex.kind == K::Ack || (ex.kind == K::Frame && answered));
            std::lock_guard<std::mutex> lock(mutex_);
            if (!ok) {
                refused_.push_back(ex.note);
            }
        });
    }

    std::vector<std::string> Refused() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return refused_;
    }

    // Runs a step and waits until all frames expected so far have arrived and
    // been answered; then the line must hold exactly those, and the link must
    // not have given up on the camera meanwhile.
    void Run(const Step& s, std::vector<Bytes>& expected) {
        s.act();
        expected.insert(expected.end(), s.frames.begin(), s.frames.end());
        ASSERT_TRUE(WaitFor([&] { return Frames().size() >= expected.size(); }));
        ASSERT_TRUE(WaitIdle());
        QApplication::processEvents();
        ASSERT_EQ(HexLines(Frames()), HexLines(expected));
        ASSERT_EQ(Panel(0), "CAM LINK OK");
    }

    void ClickTab(int index) {
        QTabBar* bar = form->PageControl1->tabBar();
        ASSERT_TRUE(bar->rect().contains(bar->tabRect(index).center())) << index;
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
        ASSERT_EQ(form->PageControl1->currentIndex(), index);
    }

    // Empties a page's controls without a word to the camera, so only a read
    // can fill them again.
    void Blank(int index) {
        TPage* page = form->Page(index);
        test::HoldLink(form->Link());
        for (TRadioGroup* g : page->findChildren<TRadioGroup*>()) {
            g->SetItemIndex(-1);
        }
        for (TAreaGrid* grid : page->findChildren<TAreaGrid*>()) {
            grid->SetMask({});
        }
        for (QLineEdit* e : page->findChildren<QLineEdit*>()) {
            e->clear();
        }
        for (TCheckBox* c : page->findChildren<TCheckBox*>()) {
            c->SetChecked(false);
        }
        form->Link().ReleaseLink();
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> refused_;
};

TEST_F(AllPages, EveryPageChangedAndReadBackWithNothingRefusedOrLost) {
    WatchRefusals();
    OpenConnected();
    ASSERT_TRUE(WaitFor([&] { return Frames().size() >= 5; }));  // the title's read
    ASSERT_TRUE(WaitIdle());
    // Laid out as on screen, where all ten tabs fit the bar, but never
    // painted: painting starts Qt threads that TSan cannot follow.
    form->setAttribute(Qt::WA_DontShowOnScreen);
    form->show();
    camera.ClearReceived();

    auto* title = qobject_cast<TTitlePage*>(form->Page(0));
    auto* lens = qobject_cast<TLensPage*>(form->Page(1));
    auto* agc = qobject_cast<TAgcPage*>(form->Page(2));
    auto* alc = qobject_cast<TAlcPage*>(form->Page(3));
    auto* blc = qobject_cast<TBlcPage*>(form->Page(4));
    auto* colour = qobject_cast<TColourPage*>(form->Page(5));
    auto* aperture = qobject_cast<TAperturePage*>(form->Page(6));
    auto* motion = qobject_cast<TMotionPage*>(form->Page(7));
    auto* pos = qobject_cast<TPositionPage*>(form->Page(8));
    auto* other = qobject_cast<TOtherPage*>(form->Page(9));
    ASSERT_TRUE(title && lens && agc && alc && blc && colour && aperture && motion && pos && other);
    lens->SetReleasePause([](int) {});

    const camera::TCameraState factory = camera.State();
    camera::TPositionRecord saved = factory.position.current;
    saved.zoom = 0x007B;
    saved.blc = 1;

    const Visit visits[] = {
        {0,
         {Sealed({0x31, 0x10, 0x01, 0x00}), Sealed({0x31, 0x10, 0x01, 0x01}),
          Sealed({0x31, 0x10, 0x01, 0x02}), Sealed({0x31, 0x10, 0x01, 0x03}),
          Sealed({0x31, 0x10, 0x00, 0x00})},
         {{[&] {
               Type(Ctl<QLineEdit>(title, "CName"), "CAM1");
               PressButton(Ctl<QPushButton>(title, "SetTitle"));
           },
           {Hex("02 21 10 01 00 00 12 00 10 00 1C 00 01 01 FE 00 03 8B"),
            Hex("02 21 10 01 01 01 FE 01 FE 01 FE 01 FE 01 FE 00 03 CD"),
            Hex("02 21 10 01 02 01 FE 01 FE 01 FE 01 FE 01 FE 00 03 CC"),
            Hex("02 21 10 01 03 01 FE 01 FE 01 FE 01 FE 01 FE 00 03 CB")}},
          {[&] { ClickMark(Ctl<TRadioGroup>(title, "TitleDisp")->Button(1)); },
           {Hex("02 21 10 00 01 00 00 00 00 00 00 00 00 00 00 00 03 C9")}}},
         [](const camera::TCameraState& s) {
             EXPECT_EQ(s.title.codes, camera::TitleCodes("CAM1"));
             EXPECT_EQ(s.title.display, 1);
         },
         {},
         [&] {
             EXPECT_EQ(Ctl<QLineEdit>(title, "CName")->text(), "CAM1                ");
             EXPECT_EQ(Ctl<TRadioGroup>(title, "TitleDisp")->ItemIndex(), 1);
             EXPECT_TRUE(Ctl<QPushButton>(title, "SetTitle")->isEnabled());
         }},
        {1,
         {Sealed({0x31, 0x21, 0x00, 0x00})},
         {{[&] { PressButton(Ctl<QPushButton>(lens, "ZoomUP")); },
           {Sealed({0x21, 0x21, 0x0A, 0x00, 0x01})}},
          {[&] { ClickMark(Ctl<TCheckBox>(lens, "DZoom")); }, {Sealed({0x21, 0x21, 0x08, 0x01})}}},
         [](const camera::TCameraState& s) {
             EXPECT_EQ(s.lens.zoomStep, 1);
             EXPECT_EQ(s.lens.digitalZoom, 1);
         },
         {},
         [&] {
             EXPECT_EQ(Ctl<QLineEdit>(lens, "ZoomStep")->text(), "0001");
             EXPECT_TRUE(Ctl<TCheckBox>(lens, "DZoom")->Checked());
         }},
        {2,
         {Sealed({0x31, 0x1A, 0x00, 0x00})},
         {{[&] { ClickMark(Ctl<TRadioGroup>(agc, "AGCLv")->Button(3)); },
           {Hex("02 21 1A 01 03 00 00 00 00 00 00 00 00 00 00 00 03 BC")}}},
         [](const camera::TCameraState& s) { EXPECT_EQ(s.gain.agcLevel, 3); },
         {},
         [&] { EXPECT_EQ(Ctl<TRadioGroup>(agc, "AGCLv")->ItemIndex(), 3); }},
        {3,
         {Sealed({0x31, 0x48, 0x00, 0x00})},
         {{[&] { ClickMark(Ctl<TRadioGroup>(alc, "AESFixLv")->Button(7)); },
           {Hex("02 21 48 05 07 00 00 00 00 00 00 00 00 00 00 00 03 86")}}},
         [](const camera::TCameraState& s) { EXPECT_EQ(s.exposure.aesFixLevel, 7); },
         {},
         [&] { EXPECT_EQ(Ctl<TRadioGroup>(alc, "AESFixLv")->ItemIndex(), 7); }},
        // The grid is usable only with back-light compensation on.
        {4,
         {Sealed({0x31, 0x18, 0x00, 0x00})},
         {{[&] { ClickMark(Ctl<TRadioGroup>(blc, "BLC")->Button(1)); },
           {Sealed({0x21, 0x18, 0x00, 0x01})}},
          {[&] { ClickMark(Ctl<TAreaGrid>(blc, "BLCArea")->Box(1)); },
           {Sealed({0x21, 0x18, 0x02, 0x01, 0x00, 0x3C, 0x3C, 0x00, 0x00})}}},
         [](const camera::TCameraState& s) {
             EXPECT_EQ(s.backLight.on, 1);
             EXPECT_EQ(s.backLight.mask, (camera::TAreaMask{0x01, 0x00, 0x3C, 0x3C, 0x00, 0x00}));
         },
         {},
         [&] {
             EXPECT_EQ(Ctl<TRadioGroup>(blc, "BLC")->ItemIndex(), 1);
             EXPECT_EQ(Ctl<TAreaGrid>(blc, "BLCArea")->Mask(),
                       (AreaGridMask{0x01, 0x00, 0x3C, 0x3C, 0x00, 0x00}));
         }},
        {5,
         {Sealed({0x31, 0x1B, 0x00, 0x00})},
         {{[&] { ClickMark(Ctl<TRadioGroup>(colour, "RYGain")->Button(8)); },
           {Sealed({0x21, 0x1B, 0x03, 0x08})}}},
         [](const camera::TCameraState& s) { EXPECT_EQ(s.colour.ryGain, 8); },
         {},
         [&] { EXPECT_EQ(Ctl<TRadioGroup>(colour, "RYGain")->ItemIndex(), 8); }},
        {6,
         {Hex("02 31 47 00 00 00 00 00 00 00 00 00 00 00 00 00 03 83")},
         {{[&] { ClickMark(Ctl<TRadioGroup>(aperture, "VGain")->Button(3)); },
           {Hex("02 21 47 01 03 00 00 00 00 00 00 00 00 00 00 00 03 8F")}}},
         [](const camera::TCameraState& s) { EXPECT_EQ(s.aperture.vGain, 3); },
         {},
         [&] { EXPECT_EQ(Ctl<TRadioGroup>(aperture, "VGain")->ItemIndex(), 3); }},
        // Likewise the motion grid with detection on.
        {7,
         {Hex("02 31 23 00 00 00 00 00 00 00 00 00 00 00 00 00 03 A7")},
         {{[&] { ClickMark(Ctl<TRadioGroup>(motion, "MoDetect")->Button(1)); },
           {Sealed({0x21, 0x23, 0x00, 0x01})}},
          {[&] { ClickMark(Ctl<TAreaGrid>(motion, "MoArea2")->Box(48)); },
           {Sealed({0x21, 0x23, 0x02, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F})}}},
         [](const camera::TCameraState& s) {
             EXPECT_EQ(s.motion.detect, 1);
             EXPECT_EQ(s.motion.mask, (camera::TAreaMask{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}));
         },
         {},
         [&] {
             EXPECT_EQ(Ctl<TRadioGroup>(motion, "MoDetect")->ItemIndex(), 1);
             EXPECT_EQ(Ctl<TAreaGrid>(motion, "MoArea2")->Mask(),
                       (AreaGridMask{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}));
         }},
        // The current settings, edited, saved under 3 and read back from there.
        {8,
         {Hex("02 31 52 00 00 00 00 00 00 00 00 00 00 00 00 00 03 78")},
         {{[&] {
               Type(Ctl<QLineEdit>(pos, "PosSaveEdit"), "3");
               PressButton(Ctl<QPushButton>(pos, "PosNowRead"));
           },
           {Sealed({0x31, 0x52, 0x02, 0x03})}},
          {[&] {
               Type(Ctl<QLineEdit>(pos, "PosZoom"), "0123");
               ClickMark(Ctl<TRadioGroup>(pos, "PosBLC")->Button(1));
               PressButton(Ctl<QPushButton>(pos, "PosSave"));
           },
           {Sealed({0x21, 0x52, 0x01, 0x03, 0x00, 0x7B, 0x00, 0x00, 0x06, 0x44})}}},
         [&](const camera::TCameraState& s) {
             EXPECT_EQ(s.position.saveNumber, 3);
             EXPECT_TRUE(s.position.records[3] == saved);
         },
         {{[&] { PressButton(Ctl<QPushButton>(pos, "PosReadx")); },
           {Sealed({0x31, 0x52, 0x01, 0x03})}}},
         [&] {
             EXPECT_EQ(Ctl<QLineEdit>(pos, "PosSaveEdit")->text(), "3");
             EXPECT_EQ(Ctl<QLineEdit>(pos, "PosZoom")->text(), "0123");
             EXPECT_EQ(Ctl<QLineEdit>(pos, "PosFocus")->text(), "0000");
             EXPECT_EQ(Ctl<TRadioGroup>(pos, "PosBLC")->ItemIndex(), 1);
             EXPECT_EQ(Ctl<TRadioGroup>(pos, "PosALCLv")->ItemIndex(), 4);
             EXPECT_TRUE(Ctl<QPushButton>(pos, "PosSave")->isEnabled());
         }},
        {9,
         {Hex("02 31 54 00 00 00 00 00 00 00 00 00 00 00 00 00 03 76")},
         {{[&] { ClickMark(Ctl<TRadioGroup>(other, "Nega")->Button(1)); },
           {Sealed({0x21, 0x54, 0x04, 0x01})}}},
         [](const camera::TCameraState& s) { EXPECT_EQ(s.other.negative, 1); },
         {},
         [&] { EXPECT_EQ(Ctl<TRadioGroup>(other, "Nega")->ItemIndex(), 1); }},
    };

    std::vector<Bytes> expected;
    // First round: the title page is open already; each page in turn.
    for (const Visit& v : visits) {
        SCOPED_TRACE("change on page " + std::to_string(v.page));
        if (v.page != 0) {
            ASSERT_NO_FATAL_FAILURE(Run({[&] { ClickTab(v.page); }, v.query}, expected));
        }
        for (const Step& s : v.change) {
            ASSERT_NO_FATAL_FAILURE(Run(s, expected));
        }
        v.stored(camera.State());
    }
    // Second round: every page emptied, then filled again from the camera.
    for (const Visit& v : visits) {
        SCOPED_TRACE("read back on page " + std::to_string(v.page));
        Blank(v.page);
        ASSERT_NO_FATAL_FAILURE(Run({[&] { ClickTab(v.page); }, v.query}, expected));
        for (const Step& s : v.reread) {
            ASSERT_NO_FATAL_FAILURE(Run(s, expected));
        }
        v.shows();
    }

    QTest::qWait(100);  // room for a stray late frame
    EXPECT_EQ(HexLines(Frames()), HexLines(expected));
    EXPECT_EQ(Refused(), std::vector<std::string>{});
    EXPECT_EQ(Panel(0), "CAM LINK OK");
    EXPECT_TRUE(errors.empty()) << errors.front().toStdString();
}

}  // namespace
}  // namespace zp::test
