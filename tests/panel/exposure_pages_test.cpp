// The gain, exposure, back-light and colour pages: decoders, read-back rules
// and tab order against a scripted port, and their frames on the line through
// the virtual camera.

#include <QPushButton>
#include <algorithm>
#include <map>
#include <string>

#include "panel/pages/agc_page.h"
#include "panel/pages/alc_page.h"
#include "panel/pages/blc_page.h"
#include "panel/pages/colour_page.h"
#include "panel/widgets/area_grid.h"
#include "panel/widgets/check_box.h"
#include "tests/panel/page_fixture.h"

namespace zp::test {
namespace {

constexpr int kAgc = 2;
constexpr int kAlc = 3;
constexpr int kBlc = 4;
constexpr int kCol = 5;

std::vector<int> CheckedAreas(const TBlcPage* page) {
    std::vector<int> out;
    for (int n = 1; n <= TAreaGrid::kAreas; ++n) {
        if (Ctl<TAreaGrid>(page, "BLCArea")->Box(n)->Checked()) {
            out.push_back(n);
        }
    }
    return out;
}

// ---- Scripted port ------------------------------------------------------------

using Scripted = PageScripted;

// Tab stops in the order Tab visits them, read from the focus chain.
TEST_F(Scripted, ColourTabOrder) {
    Open(kCol);
    auto* page = Page<TColourPage>(kCol);
    const std::vector<QWidget*> order{
        Ctl<TRadioGroup>(page, "Color"),    Ctl<TRadioGroup>(page, "RYGain"),
        Ctl<TRadioGroup>(page, "BYGain"),   Ctl<QPushButton>(page, "WBOPB"),
        Ctl<TRadioGroup>(page, "WBAutoLv"), Ctl<TRadioGroup>(page, "WBOPLv")};
    std::vector<QWidget*> visited;
    for (QWidget* w = page->nextInFocusChain(); w != page; w = w->nextInFocusChain()) {
        if (page->isAncestorOf(w) && (w->focusPolicy() & Qt::TabFocus) != 0) {
            visited.push_back(w == Ctl<QPushButton>(page, "WBOPB") ? w : w->parentWidget());
        }
    }
    EXPECT_EQ(visited, order);
}

// Each page's groups in reply order (from byte 5), and the controls that the
// decoder enables or disables.
struct Layout {
    std::vector<const char*> groups;
    std::vector<const char*> switched;
};
const std::map<int, Layout> kLayouts{
    {kAgc, {{"ASPriority", "AGCLv", "SENSLv"}, {}}},
    {kAlc,
     {{"ALC", "ALCAutoLv", "ALCFixLv", "AES", "AESAutoLv", "AESFixLv"},
      {"ALCAutoLv", "ALCFixLv", "AESAutoLv", "AESFixLv"}}},
    {kBlc, {{"BLC", "BLCLv"}, {"BLCLv", "BLCArea"}}},
    {kCol, {{"Color", "WBAutoLv", "WBOPLv", "RYGain", "BYGain"}, {"WBAutoLv", "WBOPLv", "WBOPB"}}},
};

// Every control from the reply, past-the-end values on the last item, the
// enabling rules; and decoding puts nothing on the line but the ACK.
TEST_F(Scripted, Decoders) {
    const struct {
        int page;
        Bytes bytes;  // reply bytes 5 ...
        std::vector<int> want;
        std::vector<std::string> disabled;
        std::vector<int> areas;  // back-light only
    } cases[] = {
        {kAgc, {1, 8, 8}, {1, 8, 8}, {}, {}},
        {kAgc, {2, 9, 0xFF}, {1, 8, 8}, {}, {}},
        {kAgc, {0, 5, 3}, {0, 5, 3}, {}, {}},
        {kAlc, {1, 2, 3, 0, 4, 9}, {1, 2, 3, 0, 4, 7}, {"ALCAutoLv", "AESFixLv"}, {}},
        {kAlc, {0, 8, 0, 1, 0, 7}, {0, 8, 0, 1, 0, 7}, {"ALCFixLv", "AESAutoLv"}, {}},
        {kAlc, {0xFF, 0xFF, 9, 0, 9, 0}, {1, 8, 8, 0, 8, 0}, {"ALCAutoLv", "AESFixLv"}, {}},
        {kBlc, {1, 5, 0x01, 0, 0, 0, 0, 0x80}, {1, 5}, {}, {1, 48}},
        {kBlc, {0, 3, 0, 0x01, 0, 0, 0, 0}, {0, 3}, {"BLCLv", "BLCArea"}, {9}},
        {kBlc, {2, 9, 0, 0, 0x81, 0, 0, 0}, {1, 7}, {}, {17, 24}},
        {kBlc, {1, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, {1, 0}, {}, {}},
        {kBlc, {0, 0, 0, 0, 0, 0, 0, 0}, {0, 0}, {"BLCLv", "BLCArea"}, {}},
        {kCol, {0, 4, 1, 12, 0}, {0, 4, 1, 8, 0}, {"WBOPLv", "WBOPB"}, {}},
        {kCol, {1, 0, 8, 3, 8}, {1, 0, 8, 3, 8}, {"WBAutoLv"}, {}},
        {kCol, {5, 9, 0xFF, 7, 0xFF}, {1, 8, 8, 7, 8}, {"WBAutoLv"}, {}},
    };
    int open = -1;
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "page " << c.page << " case " << (&c - cases));
        if (open != c.page) {
            Open(c.page);
            open = c.page;
        }
        TPage* page = form->Page(c.page);
        Bytes reply{0xA0, page->CommandGroup(), 0x00, 0x00};
        reply.insert(reply.end(), c.bytes.begin(), c.bytes.end());
        EXPECT_TRUE(Read(reply)) << "decoding sent";
        EXPECT_FALSE(Busy());
        const Layout& layout = kLayouts.at(c.page);
        for (size_t i = 0; i < layout.groups.size(); ++i) {
            EXPECT_EQ(page->findChild<TRadioGroup*>(layout.groups[i])->ItemIndex(), c.want[i])
                << layout.groups[i];
        }
        for (const char* name : layout.switched) {
            const bool off = std::count(c.disabled.begin(), c.disabled.end(), name) > 0;
            EXPECT_EQ(page->findChild<QWidget*>(name)->isEnabled(), !off) << name;
        }
        if (c.page == kBlc) {
            const auto* blc = Page<TBlcPage>(kBlc);
            const AreaGridMask mask{c.bytes[2], c.bytes[3], c.bytes[4],
                                    c.bytes[5], c.bytes[6], c.bytes[7]};
            EXPECT_EQ(Ctl<TAreaGrid>(blc, "BLCArea")->Mask(), mask);
            if (!c.areas.empty()) {
                EXPECT_EQ(CheckedAreas(blc), c.areas);
            }
            EXPECT_EQ(Ctl<TAreaGrid>(blc, "BLCArea")->Box(30)->isEnabled(), c.bytes[0] != 0);
        }
    }
    EXPECT_EQ(Ctl<TAreaGrid>(Page<TBlcPage>(kBlc), "BLCArea")->Box(9)->accessibleName(),
              "BLC area 09");
}

TEST_F(Scripted, ReadBackRules) {
    const struct {
        int page;
        bool afterCommand;
        uint8_t kind, group;
        bool decoded, busy;
    } cases[] = {
        {kAgc, false, 0xA0, 0x1A, true, false},  {kAgc, true, 0xA0, 0x1A, false, false},
        {kAgc, true, 0xA0, 0x48, false, false},  {kAgc, false, 0xA0, 0x48, false, true},
        {kAgc, true, 0xA1, 0x1A, false, false},  {kAlc, true, 0xA0, 0x48, true, false},
        {kAlc, true, 0xA0, 0x1A, false, true},   {kAlc, false, 0xA1, 0x48, false, false},
        {kBlc, true, 0xA0, 0x18, true, false},   {kBlc, false, 0xA0, 0x1A, false, true},
        {kCol, true, 0xA0, 0x1B, true, false},   {kCol, true, 0xA0, 0x18, false, true},
        {kCol, false, 0x00, 0x1B, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "page " << c.page << " command " << c.afterCommand
                                          << " reply " << int(c.kind) << "/" << int(c.group));
        Open(c.page);
        TPage* page = form->Page(c.page);
        const uint8_t own = page->CommandGroup();
        Answer({0xA0, own, 0x00, 0x00, 0x00, 0x00});
        ASSERT_FALSE(Busy());
        const Layout& layout = kLayouts.at(c.page);
        auto* first = page->findChild<TRadioGroup*>(layout.groups[0]);
        auto* probe = page->findChild<TRadioGroup*>(layout.groups[1]);
        ASSERT_EQ(probe->ItemIndex(), 0);
        if (c.afterCommand) {
            first->SetItemIndex(1);
        } else {
            page->Query();
        }
        ASSERT_EQ(FramesSent().size(), 1u);
        Answer({c.kind, c.group, 0x00, 0x00, 0x01, 0x05});
        EXPECT_EQ(probe->ItemIndex(), c.decoded ? 5 : 0);
        EXPECT_EQ(Busy(), c.busy);
    }
}

// The operator's click while a reply is outstanding shows, sends nothing, and
// the next decoded reply overwrites it.
TEST_F(Scripted, ClickWhileBusy) {
    for (int pageIndex : {kAgc, kAlc, kBlc, kCol}) {
        SCOPED_TRACE(pageIndex);
        Open(pageIndex);
        TPage* page = form->Page(pageIndex);
        auto* group = page->findChild<TRadioGroup*>(kLayouts.at(pageIndex).groups[1]);
        ClickMark(group->Button(1));
        EXPECT_EQ(group->ItemIndex(), 1);
        TCheckBox* box = nullptr;
        if (pageIndex == kBlc) {
            box = Ctl<TAreaGrid>(Page<TBlcPage>(kBlc), "BLCArea")->Box(5);
            ClickMark(box);
            EXPECT_TRUE(box->Checked());
        }
        EXPECT_TRUE(FramesSent().empty());
        Answer({0xA0, page->CommandGroup(), 0x00, 0x00, 0x01, 0x00});
        EXPECT_EQ(group->ItemIndex(), 0);
        if (box != nullptr) {
            EXPECT_FALSE(box->Checked());
        }
        EXPECT_TRUE(FramesSent().empty());
    }
}

// ---- On the line, through the virtual camera ----------------------------------

struct OnTheLine : PageEndToEnd {
    std::vector<Bytes> Tick(TBlcPage* page, int area) {
        return Click(Ctl<TAreaGrid>(page, "BLCArea")->Box(area));
    }

    // Empties the page's controls without sending, then reads the page again.
    void Reread(TPage* page) {
        test::HoldLink(form->Link());
        for (TRadioGroup* g : page->findChildren<TRadioGroup*>()) {
            g->SetItemIndex(-1);
        }
        if (auto* grid = page->findChild<TAreaGrid*>()) {
            grid->SetMask({});
        }
        form->Link().ReleaseLink();
        const auto sent = Do([=] { page->Query(); });
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0][1], 0x31);
    }
};

std::vector<Bytes> One(const char* hex) {
    return {Hex(hex)};
}

TEST_F(OnTheLine, Queries) {
    OpenAndReadTitle();
    const struct {
        int page;
        const char* frame;
    } cases[] = {
        {kAgc, "02 31 1A 00 00 00 00 00 00 00 00 00 00 00 00 00 03 B0"},
        {kAlc, "02 31 48 00 00 00 00 00 00 00 00 00 00 00 00 00 03 82"},
        {kBlc, "02 31 18 00 00 00 00 00 00 00 00 00 00 00 00 00 03 B2"},
        {kCol, "02 31 1B 00 00 00 00 00 00 00 00 00 00 00 00 00 03 AF"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Do([&] { form->PageControl1->setCurrentIndex(c.page); }), One(c.frame));
    }
}

TEST_F(OnTheLine, GainPage) {
    OpenPage(kAgc);
    auto* page = qobject_cast<TAgcPage*>(form->Page(kAgc));
    EXPECT_EQ(Ctl<TRadioGroup>(page, "AGCLv")->ItemIndex(), 0);
    EXPECT_EQ(Pick(Ctl<TRadioGroup>(page, "ASPriority"), 1),
              One("02 21 1A 04 01 00 00 00 00 00 00 00 00 00 00 00 03 BB"));
    EXPECT_EQ(Pick(Ctl<TRadioGroup>(page, "AGCLv"), 3),
              One("02 21 1A 01 03 00 00 00 00 00 00 00 00 00 00 00 03 BC"));
    // The answer to a command is not decoded, even when it differs.
    camera::TCameraState s = camera.State();
    s.gain.agcLevel = 7;
    camera.SetState(s);
    EXPECT_EQ(Pick(Ctl<TRadioGroup>(page, "SENSLv"), 8),
              One("02 21 1A 02 08 00 00 00 00 00 00 00 00 00 00 00 03 B6"));
    EXPECT_EQ(Ctl<TRadioGroup>(page, "AGCLv")->ItemIndex(), 3);

    Reread(page);
    EXPECT_EQ(Ctl<TRadioGroup>(page, "ASPriority")->ItemIndex(), 1);
    EXPECT_EQ(Ctl<TRadioGroup>(page, "AGCLv")->ItemIndex(), 7);
    EXPECT_EQ(Ctl<TRadioGroup>(page, "SENSLv")->ItemIndex(), 8);
}

TEST_F(OnTheLine, ExposurePage) {
    OpenPage(kAlc);
    auto* page = qobject_cast<TAlcPage*>(form->Page(kAlc));
    // The camera starts with ALC automatic and AES fixed.
    ASSERT_TRUE(Ctl<TRadioGroup>(page, "ALCAutoLv")->isEnabled() &&
                Ctl<TRadioGroup>(page, "AESFixLv")->isEnabled());
    EXPECT_EQ(Pick(Ctl<TRadioGroup>(page, "AESFixLv"), 7),
              One("02 21 48 05 07 00 00 00 00 00 00 00 00 00 00 00 03 86"));
    EXPECT_EQ(Pick(Ctl<TRadioGroup>(page, "ALC"), 1),
              One("02 21 48 00 01 00 00 00 00 00 00 00 00 00 00 00 03 91"));
    // The answer to the mode command is decoded: the fixed level is now the one to set.
    EXPECT_FALSE(Ctl<TRadioGroup>(page, "ALCAutoLv")->isEnabled());
    EXPECT_TRUE(Ctl<TRadioGroup>(page, "ALCFixLv")->isEnabled());
    EXPECT_EQ(Pick(Ctl<TRadioGroup>(page, "ALCFixLv"), 8),
              One("02 21 48 02 08 00 00 00 00 00 00 00 00 00 00 00 03 88"));
    EXPECT_EQ(Pick(Ctl<TRadioGroup>(page, "AES"), 0),
              One("02 21 48 03 00 00 00 00 00 00 00 00 00 00 00 00 03 8F"));
    EXPECT_TRUE(Ctl<TRadioGroup>(page, "AESAutoLv")->isEnabled());
    EXPECT_EQ(Pick(Ctl<TRadioGroup>(page, "AESAutoLv"), 2),
              One("02 21 48 04 02 00 00 00 00 00 00 00 00 00 00 00 03 8C"));

    Reread(page);
    const int want[] = {1, 4, 8, 0, 2, 7};
    TRadioGroup* groups[] = {
        Ctl<TRadioGroup>(page, "ALC"),       Ctl<TRadioGroup>(page, "ALCAutoLv"),
        Ctl<TRadioGroup>(page, "ALCFixLv"),  Ctl<TRadioGroup>(page, "AES"),
        Ctl<TRadioGroup>(page, "AESAutoLv"), Ctl<TRadioGroup>(page, "AESFixLv")};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(groups[i]->ItemIndex(), want[i]) << groups[i]->objectName().toStdString();
    }
}

TEST_F(OnTheLine, BackLightPage) {
    camera::TCameraState s = camera.State();
    s.backLight.on = 1;
    s.backLight.mask = {};
    camera.SetState(s);
    OpenPage(kBlc);
    auto* page = qobject_cast<TBlcPage*>(form->Page(kBlc));
    ASSERT_TRUE(Ctl<TAreaGrid>(page, "BLCArea")->isEnabled());
    ASSERT_TRUE(CheckedAreas(page).empty());

    EXPECT_EQ(Tick(page, 1), One("02 21 18 02 01 00 00 00 00 00 00 00 00 00 00 00 03 BF"));
    EXPECT_EQ(Tick(page, 1), One("02 21 18 02 00 00 00 00 00 00 00 00 00 00 00 00 03 C0"));
    EXPECT_EQ(Tick(page, 9), One("02 21 18 02 00 01 00 00 00 00 00 00 00 00 00 00 03 BF"));
    EXPECT_EQ(Tick(page, 9), One("02 21 18 02 00 00 00 00 00 00 00 00 00 00 00 00 03 C0"));
    EXPECT_EQ(Tick(page, 48), One("02 21 18 02 00 00 00 00 00 80 00 00 00 00 00 00 03 40"));
    // The whole grid travels: the 48th box completes the other 47.
    s = camera.State();
    s.backLight.mask = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F};
    camera.SetState(s);
    Reread(page);
    EXPECT_EQ(CheckedAreas(page).size(), 47u);
    EXPECT_EQ(Tick(page, 48), One("02 21 18 02 FF FF FF FF FF FF 00 00 00 00 00 00 03 C6"));

    EXPECT_EQ(Pick(Ctl<TRadioGroup>(page, "BLCLv"), 5),
              One("02 21 18 01 05 00 00 00 00 00 00 00 00 00 00 00 03 BC"));
    EXPECT_EQ(Pick(Ctl<TRadioGroup>(page, "BLC"), 0),
              One("02 21 18 00 00 00 00 00 00 00 00 00 00 00 00 00 03 C2"));
    EXPECT_FALSE(Ctl<TRadioGroup>(page, "BLCLv")->isEnabled());
    EXPECT_FALSE(Ctl<TAreaGrid>(page, "BLCArea")->isEnabled());

    Reread(page);
    EXPECT_EQ(Ctl<TRadioGroup>(page, "BLC")->ItemIndex(), 0);
    EXPECT_EQ(Ctl<TRadioGroup>(page, "BLCLv")->ItemIndex(), 5);
    EXPECT_EQ(CheckedAreas(page).size(), 48u);
}

TEST_F(OnTheLine, ColourPage) {
    OpenPage(kCol);
    auto* page = qobject_cast<TColourPage*>(form->Page(kCol));
    ASSERT_FALSE(Ctl<QPushButton>(page, "WBOPB")->isEnabled());  // the camera starts in AUTO
    EXPECT_EQ(Pick(Ctl<TRadioGroup>(page, "WBAutoLv"), 2),
              One("02 21 1B 01 02 00 00 00 00 00 00 00 00 00 00 00 03 BC"));
    EXPECT_EQ(Pick(Ctl<TRadioGroup>(page, "Color"), 1),
              One("02 21 1B 00 01 00 00 00 00 00 00 00 00 00 00 00 03 BE"));
    EXPECT_TRUE(Ctl<QPushButton>(page, "WBOPB")->isEnabled());
    EXPECT_TRUE(Ctl<TRadioGroup>(page, "WBOPLv")->isEnabled());
    EXPECT_FALSE(Ctl<TRadioGroup>(page, "WBAutoLv")->isEnabled());
    EXPECT_EQ(Pick(Ctl<TRadioGroup>(page, "RYGain"), 8),
              One("02 21 1B 03 08 00 00 00 00 00 00 00 00 00 00 00 03 B4"));
    EXPECT_EQ(Pick(Ctl<TRadioGroup>(page, "WBOPLv"), 0),
              One("02 21 1B 02 00 00 00 00 00 00 00 00 00 00 00 00 03 BD"));
    EXPECT_EQ(Pick(Ctl<TRadioGroup>(page, "BYGain"), 1),
              One("02 21 1B 04 01 00 00 00 00 00 00 00 00 00 00 00 03 BA"));

    Reread(page);
    EXPECT_EQ(Ctl<TRadioGroup>(page, "Color")->ItemIndex(), 1);
    EXPECT_EQ(Ctl<TRadioGroup>(page, "WBAutoLv")->ItemIndex(), 2);
    EXPECT_EQ(Ctl<TRadioGroup>(page, "WBOPLv")->ItemIndex(), 0);
    EXPECT_EQ(Ctl<TRadioGroup>(page, "RYGain")->ItemIndex(), 8);
    EXPECT_EQ(Ctl<TRadioGroup>(page, "BYGain")->ItemIndex(), 1);
}

}  // namespace
}  // namespace zp::test
