#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <random>
#include <vector>

#include "panel/widgets/area_grid.h"
#include "panel/widgets/check_box.h"

namespace zp {
namespace {

std::vector<int> Checked(const TAreaGrid& g) {
    std::vector<int> on;
    for (int n = 1; n <= TAreaGrid::kAreas; ++n) {
        if (g.Box(n)->Checked()) {
            on.push_back(n);
        }
    }
    return on;
}

TEST(AreaGrid, EachBoxAloneRoundTripsThroughItsBit) {
    TAreaGrid g("BLCCheck", "BLC");
    for (int n = 1; n <= TAreaGrid::kAreas; ++n) {
        AreaGridMask expected{};
        expected[static_cast<size_t>((n - 1) / 8)] = static_cast<uint8_t>(1u << ((n - 1) % 8));
        g.SetMask({});
        g.Box(n)->SetChecked(true);
        EXPECT_EQ(g.Mask(), expected) << "box " << n;
        g.SetMask({});
        EXPECT_TRUE(Checked(g).empty());
        g.SetMask(expected);
        EXPECT_EQ(Checked(g), std::vector<int>{n}) << "box " << n;
    }
}

TEST(AreaGrid, KnownMasks) {
    const struct {
        std::vector<int> boxes;
        AreaGridMask mask;
    } cases[] = {
        {{1}, {0x01, 0, 0, 0, 0, 0}},        {{8}, {0x80, 0, 0, 0, 0, 0}},
        {{9}, {0, 0x01, 0, 0, 0, 0}},        {{48}, {0, 0, 0, 0, 0, 0x80}},
        {{1, 48}, {0x01, 0, 0, 0, 0, 0x80}}, {{}, {0, 0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        TAreaGrid g("MoCheck", "Motion");
        for (int n : c.boxes) {
            g.Box(n)->SetChecked(true);
        }
        EXPECT_EQ(g.Mask(), c.mask);
        TAreaGrid h("MoCheck", "Motion");
        h.SetMask(c.mask);
        EXPECT_EQ(Checked(h), c.boxes);
    }
    TAreaGrid all("BLCCheck", "BLC");
    for (int n = 1; n <= TAreaGrid::kAreas; ++n) {
        all.Box(n)->SetChecked(true);
    }
    const AreaGridMask full{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(all.Mask(), full);
    TAreaGrid fromFull("BLCCheck", "BLC");
    fromFull.SetMask(full);
    EXPECT_EQ(Checked(fromFull).size(), 48u);
}

TEST(AreaGrid, ArbitraryMasksRoundTrip) {
    TAreaGrid g("BLCCheck", "BLC");
    std::mt19937 random(7);
    for (int i = 0; i < 200; ++i) {
        AreaGridMask mask;
        for (auto& b : mask) {
            b = static_cast<uint8_t>(random());
        }
        g.SetMask(mask);
        EXPECT_EQ(g.Mask(), mask);
    }
}

TEST(AreaGrid, SetMaskRaisesClickOncePerChangedBoxInAreaOrder) {
    TAreaGrid g("BLCCheck", "BLC");
    std::vector<int> clicked;
    std::vector<AreaGridMask> seen;
    QObject::connect(&g, &TAreaGrid::Click, [&](int area) {
        clicked.push_back(area);
        seen.push_back(g.Mask());
    });
    g.SetMask({0x01, 0, 0, 0, 0, 0x80});
    EXPECT_EQ(clicked, (std::vector<int>{1, 48}));
    // The handler for box 1 already sees box 1 set, box 48 not yet.
    EXPECT_EQ(seen[0], (AreaGridMask{0x01, 0, 0, 0, 0, 0}));
    clicked.clear();
    g.SetMask({0x01, 0, 0, 0, 0, 0x80});
    EXPECT_TRUE(clicked.empty());
    g.SetMask({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
    EXPECT_EQ(clicked.size(), 46u);
    clicked.clear();
    g.SetMask({});
    EXPECT_EQ(clicked.size(), 48u);
}

TEST(AreaGrid, OperatorClickRaisesClickWithTheArea) {
    TAreaGrid g("BLCCheck", "BLC");
    g.show();
    QSignalSpy clicks(&g, &TAreaGrid::Click);
    QTest::mouseClick(g.Box(20), Qt::LeftButton);
    ASSERT_EQ(clicks.count(), 1);
    EXPECT_EQ(clicks.at(0).at(0).toInt(), 20);
    EXPECT_EQ(g.Mask(), (AreaGridMask{0, 0, 0x08, 0, 0, 0}));
    QTest::keyClick(g.Box(20), Qt::Key_Space);
    EXPECT_EQ(clicks.count(), 2);
    EXPECT_EQ(g.Mask(), AreaGridMask{});
}

TEST(AreaGrid, NamesAccessibleNamesAndTooltips) {
    TAreaGrid blc("BLCCheck", "BLC");
    TAreaGrid mo("MoCheck", "Motion");
    const struct {
        int area;
        const char* name;
        const char* accessible;
        const char* tip;
    } cases[] = {
        {1, "BLCCheck01", "BLC area 01", "Area 01: row 1, column 1"},
        {8, "BLCCheck08", "BLC area 08", "Area 08: row 1, column 8"},
        {9, "BLCCheck09", "BLC area 09", "Area 09: row 2, column 1"},
        {48, "BLCCheck48", "BLC area 48", "Area 48: row 6, column 8"},
        {41, "MoCheck41", "Motion area 41", "Area 41: row 6, column 1"},
    };
    for (const auto& c : cases) {
        const TAreaGrid& g = QString(c.name).startsWith("Mo") ? mo : blc;
        auto* box = g.findChild<TCheckBox*>(c.name);
        ASSERT_NE(box, nullptr) << c.name;
        EXPECT_EQ(box, g.Box(c.area));
        EXPECT_EQ(box->accessibleName(), c.accessible);
        EXPECT_EQ(box->toolTip(), c.tip);
        EXPECT_TRUE(box->text().isEmpty());
    }
    EXPECT_EQ(blc.findChildren<TCheckBox*>().size(), 48);
    EXPECT_EQ(blc.Box(0), nullptr);
    EXPECT_EQ(blc.Box(49), nullptr);
}

TEST(AreaGrid, BoxesSitInRowsOfEight) {
    TAreaGrid g("BLCCheck", "BLC");
    g.show();
    QApplication::processEvents();
    auto at = [&](int n) { return g.Box(n)->geometry().center(); };
    EXPECT_EQ(at(1).y(), at(8).y());
    EXPECT_LT(at(1).x(), at(2).x());
    EXPECT_LT(at(7).x(), at(8).x());
    EXPECT_EQ(at(1).x(), at(9).x());
    EXPECT_LT(at(1).y(), at(9).y());
    EXPECT_LT(at(33).y(), at(41).y());
}

TEST(AreaGrid, EnabledAndDisabledAsAWhole) {
    TAreaGrid g("BLCCheck", "BLC");
    g.show();
    g.setEnabled(false);
    for (int n = 1; n <= TAreaGrid::kAreas; ++n) {
        EXPECT_FALSE(g.Box(n)->isEnabled()) << n;
    }
    QTest::mouseClick(g.Box(5), Qt::LeftButton);
    EXPECT_EQ(g.Mask(), AreaGridMask{});
    // The decoders still set a disabled grid.
    g.SetMask({0, 0, 0, 0, 0, 0x80});
    EXPECT_TRUE(g.Box(48)->Checked());
    g.setEnabled(true);
    for (int n = 1; n <= TAreaGrid::kAreas; ++n) {
        EXPECT_TRUE(g.Box(n)->isEnabled()) << n;
    }
}

TEST(AreaGrid, ArrowKeysMoveFocusAcrossTheGrid) {
    TAreaGrid g("BLCCheck", "BLC");
    g.show();
    g.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&g));
    const struct {
        int from;
        Qt::Key key;
        int to;
    } cases[] = {{1, Qt::Key_Right, 2}, {1, Qt::Key_Down, 9},  {1, Qt::Key_Up, 1},
                 {1, Qt::Key_Left, 1},  {8, Qt::Key_Right, 8}, {48, Qt::Key_Down, 48},
                 {41, Qt::Key_Up, 33}};
    for (const auto& c : cases) {
        g.Box(c.from)->setFocus();
        QTest::keyClick(g.Box(c.from), c.key);
        EXPECT_EQ(QApplication::focusWidget(), g.Box(c.to)) << c.from << " key " << c.key;
    }
    EXPECT_EQ(g.Mask(), AreaGridMask{}) << "moving the focus checks nothing";
}

}  // namespace
}  // namespace zp
