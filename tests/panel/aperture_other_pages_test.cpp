// The aperture and other pages: decoders against a scripted port, commands
// end to end through the virtual camera.

#include "panel/pages/aperture_page.h"
#include "panel/pages/other_page.h"
#include "tests/panel/page_fixture.h"

namespace zp::test {
namespace {

constexpr int kAperture = 6;
constexpr int kOther = 9;

using Scripted = PageScripted;

TEST_F(Scripted, ApertureDecoder) {
    Open(kAperture);
    auto* page = qobject_cast<TAperturePage*>(form->Page(kAperture));
    const struct {
        uint8_t h, v;
        int hIndex, vIndex;
    } cases[] = {
        {0x00, 0x0C, 0, 12}, {0x03, 0x20, 3, 12}, {0x0C, 0x0B, 12, 11}, {0xFF, 0x0D, 12, 12}};
    for (const auto& c : cases) {
        Answer({0xA0, 0x47, 0x00, 0x00, c.h, c.v});
        EXPECT_EQ(Ctl<TRadioGroup>(page, "HGain")->ItemIndex(), c.hIndex) << int(c.h);
        EXPECT_EQ(Ctl<TRadioGroup>(page, "VGain")->ItemIndex(), c.vIndex) << int(c.v);
        EXPECT_FALSE(Busy());
    }
    EXPECT_TRUE(FramesSent().empty());
    EXPECT_EQ(Ctl<TRadioGroup>(page, "VGain")->Button(12)->text(), "MAX");
}

TEST_F(Scripted, OtherDecoder) {
    Open(kOther);
    auto* page = qobject_cast<TOtherPage*>(form->Page(kOther));
    TRadioGroup* groups[] = {Ctl<TRadioGroup>(page, "Preset"), Ctl<TRadioGroup>(page, "Initial"),
                             Ctl<TRadioGroup>(page, "HRev"),   Ctl<TRadioGroup>(page, "VRev"),
                             Ctl<TRadioGroup>(page, "Nega"),   Ctl<TRadioGroup>(page, "Phase"),
                             Ctl<TRadioGroup>(page, "PhaseLv")};
    const struct {
        Bytes bytes;  // reply bytes 5 ... 11
        int want[7];
        bool levelEnabled;
    } cases[] = {
        {{1, 0, 1, 0, 1, 1, 8}, {1, 0, 1, 0, 1, 1, 8}, true},
        {{0, 1, 0, 1, 0, 0, 5}, {0, 1, 0, 1, 0, 0, 5}, false},
        {{2, 9, 0xFF, 1, 1, 4, 20}, {1, 1, 1, 1, 1, 1, 15}, true},
        {{0, 0, 0, 0, 0, 0, 0x73}, {0, 0, 0, 0, 0, 0, 15}, false},
        // Negative (byte 9) and phase (byte 10) apart: only the phase
        // enables its level.
        {{0, 0, 0, 0, 1, 0, 3}, {0, 0, 0, 0, 1, 0, 3}, false},
        {{0, 0, 0, 0, 0, 1, 3}, {0, 0, 0, 0, 0, 1, 3}, true},
    };
    for (const auto& c : cases) {
        Bytes reply{0xA0, 0x54, 0x00, 0x00};
        reply.insert(reply.end(), c.bytes.begin(), c.bytes.end());
        Answer(reply);
        for (size_t i = 0; i < 7; ++i) {
            EXPECT_EQ(groups[i]->ItemIndex(), c.want[i]) << groups[i]->objectName().toStdString();
        }
        EXPECT_EQ(Ctl<TRadioGroup>(page, "PhaseLv")->isEnabled(), c.levelEnabled);
        EXPECT_FALSE(Busy());
    }
    EXPECT_TRUE(FramesSent().empty());
}

TEST_F(Scripted, ReplyRules) {
    const struct {
        int page;
        Bytes reply;
        bool decoded;
        bool busy;
    } cases[] = {
        {kAperture, {0xA0, 0x47, 0x00, 0x00, 0x05}, true, false},
        {kAperture, {0xA0, 0x54, 0x00, 0x00, 0x05}, false, true},
        {kAperture, {0xB0, 0x47, 0x00, 0x00, 0x05}, false, false},
        {kOther, {0xA0, 0x54, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05}, true, false},
        {kOther, {0xA0, 0x47, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05}, false, true},
        {kOther, {0xA1, 0x54, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05}, false, false},
    };
    for (const auto& c : cases) {
        Open(c.page);
        form->Page(c.page)->Query();
        Answer(c.reply);
        TRadioGroup* probe = c.page == kAperture ? Ctl<TRadioGroup>(form->Page(c.page), "HGain")
                                                 : Ctl<TRadioGroup>(form->Page(c.page), "PhaseLv");
        EXPECT_EQ(probe->ItemIndex(), c.decoded ? 5 : -1) << c.page << " " << int(c.reply[1]);
        EXPECT_EQ(Busy(), c.busy) << c.page << " " << int(c.reply[1]);
    }
}

// ---- End to end ----------------------------------------------------------

using PagesEndToEnd = PageEndToEnd;

TEST_F(PagesEndToEnd, AperturePage) {
    camera::TCameraState s = camera.State();
    s.aperture.hGain = 0x0C;
    s.aperture.vGain = 0x20;
    camera.SetState(s);
    OpenPage(kAperture);
    EXPECT_EQ(Frames(),
              std::vector<Bytes>{Hex("02 31 47 00 00 00 00 00 00 00 00 00 00 00 00 00 03 83")});
    auto* page = qobject_cast<TAperturePage*>(form->Page(kAperture));
    EXPECT_EQ(Ctl<TRadioGroup>(page, "HGain")->ItemIndex(), 12);
    EXPECT_EQ(Ctl<TRadioGroup>(page, "VGain")->ItemIndex(), 12);

    EXPECT_EQ(Pick(Ctl<TRadioGroup>(page, "VGain"), 3),
              std::vector<Bytes>{Hex("02 21 47 01 03 00 00 00 00 00 00 00 00 00 00 00 03 8F")});
    EXPECT_EQ(Pick(Ctl<TRadioGroup>(page, "HGain"), 0),
              std::vector<Bytes>{Hex("02 21 47 00 00 00 00 00 00 00 00 00 00 00 00 00 03 93")});
    EXPECT_TRUE(
        Pick(Ctl<TRadioGroup>(page, "HGain"), 0, false).empty());  // the item already selected
    EXPECT_EQ(camera.State().aperture.hGain, 0);
    EXPECT_EQ(camera.State().aperture.vGain, 3);
    EXPECT_EQ(Ctl<TRadioGroup>(page, "VGain")->ItemIndex(), 3);
}

TEST_F(PagesEndToEnd, OtherPageSwitches) {
    OpenPage(kOther);
    EXPECT_EQ(Frames(),
              std::vector<Bytes>{Hex("02 31 54 00 00 00 00 00 00 00 00 00 00 00 00 00 03 76")});
    auto* page = qobject_cast<TOtherPage*>(form->Page(kOther));
    EXPECT_FALSE(Ctl<TRadioGroup>(page, "PhaseLv")->isEnabled());  // the camera's phase is off
    const struct {
        TRadioGroup* group;
        int item;
        uint8_t byte3;
    } cases[] = {
        {Ctl<TRadioGroup>(page, "Preset"), 1, 0x00}, {Ctl<TRadioGroup>(page, "Initial"), 1, 0x01},
        {Ctl<TRadioGroup>(page, "HRev"), 1, 0x02},   {Ctl<TRadioGroup>(page, "VRev"), 1, 0x03},
        {Ctl<TRadioGroup>(page, "Nega"), 1, 0x04},   {Ctl<TRadioGroup>(page, "Phase"), 1, 0x05}};
    for (const auto& c : cases) {
        Bytes want = Sealed({0x21, 0x54, c.byte3, static_cast<uint8_t>(c.item)});
        EXPECT_EQ(Pick(c.group, c.item), std::vector<Bytes>{want}) << int(c.byte3);
    }
    const camera::TOtherState o = camera.State().other;
    EXPECT_EQ(o.preset + o.initial + o.hReverse + o.vReverse + o.negative + o.phase, 6);
    // Phase on: the camera's answer enables the level.
    EXPECT_TRUE(Ctl<TRadioGroup>(page, "PhaseLv")->isEnabled());
}

TEST_F(PagesEndToEnd, PhaseLevelCarriesTheOffset) {
    camera::TCameraState s = camera.State();
    s.other.phase = 1;
    camera.SetState(s);
    OpenPage(kOther);
    auto* page = qobject_cast<TOtherPage*>(form->Page(kOther));
    ASSERT_TRUE(Ctl<TRadioGroup>(page, "PhaseLv")->isEnabled());

    Ctl<QLineEdit>(page, "PhOfD")->selectAll();
    QTest::keyClicks(Ctl<QLineEdit>(page, "PhOfD"), "3");
    ASSERT_EQ(Ctl<TSpinEdit>(page, "PhLvOf")->Value(), 3);
    EXPECT_EQ(Pick(Ctl<TRadioGroup>(page, "PhaseLv"), 5),
              std::vector<Bytes>{Hex("02 21 54 06 08 00 00 00 00 00 00 00 00 00 00 00 03 78")});
    // The camera answers with the level as sent, offset included.
    EXPECT_EQ(Ctl<TRadioGroup>(page, "PhaseLv")->ItemIndex(), 8);

    // The spinner steps within 0 ... 100 and does not wrap round.
    Ctl<TSpinEdit>(page, "PhLvOf")->SetValue(99);
    QTest::keyClick(Ctl<TSpinEdit>(page, "PhLvOf"), Qt::Key_Up);
    QTest::keyClick(Ctl<TSpinEdit>(page, "PhLvOf"), Qt::Key_Up);
    EXPECT_EQ(Ctl<QLineEdit>(page, "PhOfD")->text(), "100");
    EXPECT_EQ(Pick(Ctl<TRadioGroup>(page, "PhaseLv"), 15),
              std::vector<Bytes>{Sealed({0x21, 0x54, 0x06, 0x73})});
    EXPECT_EQ(camera.State().other.phaseLevel, 0x73);

    // A typed number outside 0 ... 100 leaves the last valid one in force.
    Ctl<QLineEdit>(page, "PhOfD")->selectAll();
    QTest::keyClicks(Ctl<QLineEdit>(page, "PhOfD"), "250");
    EXPECT_EQ(Ctl<TSpinEdit>(page, "PhLvOf")->Value(), 100);
    EXPECT_EQ(Pick(Ctl<TRadioGroup>(page, "PhaseLv"), 2),
              std::vector<Bytes>{Sealed({0x21, 0x54, 0x06, 102})});
    EXPECT_EQ(Ctl<TRadioGroup>(page, "PhaseLv")->ItemIndex(), 15);  // 102 is past the last level

    // Changing the offset sends nothing, nor does the level already selected.
    camera.ClearReceived();
    Ctl<TSpinEdit>(page, "PhLvOf")->SetValue(0);
    QTest::qWait(100);
    EXPECT_TRUE(Frames().empty());
    EXPECT_TRUE(Pick(Ctl<TRadioGroup>(page, "PhaseLv"), 15, false).empty());

    // Phase off: the answer disables the level but still sets it.
    EXPECT_EQ(Pick(Ctl<TRadioGroup>(page, "Phase"), 0),
              std::vector<Bytes>{Sealed({0x21, 0x54, 0x05, 0x00})});
    EXPECT_FALSE(Ctl<TRadioGroup>(page, "PhaseLv")->isEnabled());
    EXPECT_EQ(Ctl<TRadioGroup>(page, "PhaseLv")->ItemIndex(), 15);
}

}  // namespace
}  // namespace zp::test
