#include <gtest/gtest.h>

#include <QLineEdit>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <vector>

#include "panel/widgets/radio_group.h"

namespace zp {
namespace {

// The index the buttons show, -1 when none is checked.
int ShownIndex(const TRadioGroup& g) {
    int shown = -1;
    for (int i = 0; i < g.Items().size(); ++i) {
        if (g.Button(i)->isChecked()) {
            EXPECT_EQ(shown, -1) << "two items checked";
            shown = i;
        }
    }
    return shown;
}

struct IndexStep {
    int set;
    int index;   // ItemIndex afterwards
    int clicks;  // Click events raised by this step
};

struct IndexCase {
    const char* name;
    int items;
    std::vector<IndexStep> steps;
};

class RadioGroupIndex : public ::testing::TestWithParam<IndexCase> {};

TEST_P(RadioGroupIndex, SetsAndRaisesClickOncePerChange) {
    const IndexCase& c = GetParam();
    QStringList items;
    for (int i = 0; i < c.items; ++i) {
        items << QString("item %1").arg(i);
    }
    TRadioGroup g("Caption", items, 2);
    EXPECT_EQ(g.ItemIndex(), -1);
    EXPECT_EQ(ShownIndex(g), -1);
    std::vector<int> seen;  // ItemIndex as each Click handler finds it
    QObject::connect(&g, &TRadioGroup::Click, [&] { seen.push_back(g.ItemIndex()); });
    for (const IndexStep& s : c.steps) {
        seen.clear();
        g.SetItemIndex(s.set);
        EXPECT_EQ(g.ItemIndex(), s.index) << "set " << s.set;
        EXPECT_EQ(ShownIndex(g), s.index) << "set " << s.set;
        ASSERT_EQ(static_cast<int>(seen.size()), s.clicks) << "set " << s.set;
        for (int index : seen) {
            EXPECT_EQ(index, s.index) << "Click before the index was in place";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RadioGroupIndex,
    ::testing::Values(
        IndexCase{"InRange", 3, {{1, 1, 1}, {0, 0, 1}, {2, 2, 1}}},
        IndexCase{"SameAgain", 3, {{1, 1, 1}, {1, 1, 0}, {1, 1, 0}}},
        IndexCase{"PastTheEnd", 3, {{7, 2, 1}, {255, 2, 0}, {2, 2, 0}, {0, 0, 1}, {3, 2, 1}}},
        IndexCase{"BelowZero", 3, {{-1, -1, 0}, {1, 1, 1}, {-1, -1, 1}, {-7, -1, 0}, {0, 0, 1}}},
        IndexCase{"NoItems", 0, {{0, -1, 0}, {5, -1, 0}, {-1, -1, 0}}},
        IndexCase{"Sixteen", 16, {{20, 15, 1}, {8, 8, 1}, {15, 15, 1}}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(RadioGroup, MouseClickSelectsAndRepickIsNoChange) {
    TRadioGroup g("Display", {"OFF", "ON"}, 2);
    g.show();
    QSignalSpy clicks(&g, &TRadioGroup::Click);
    const struct {
        int item;
        int index;
        int clicks;
    } steps[] = {{1, 1, 1}, {1, 1, 1}, {0, 0, 2}, {0, 0, 2}};
    for (const auto& s : steps) {
        // On the mark: a wide button takes clicks only on its mark and text.
        QAbstractButton* b = g.Button(s.item);
        QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(8, b->height() / 2));
        EXPECT_EQ(g.ItemIndex(), s.index);
        EXPECT_EQ(clicks.count(), s.clicks);
    }
}

TEST(RadioGroup, ItemsRunDownTheColumns) {
    // 5 items in 2 columns: 0 1 2 in the first, 3 4 in the second.
    TRadioGroup g("Caption", {"a", "b", "c", "d", "e"}, 2);
    g.resize(300, 200);
    g.show();
    QApplication::processEvents();
    auto pos = [&](int i) { return g.Button(i)->geometry().topLeft(); };
    EXPECT_LT(pos(0).y(), pos(1).y());
    EXPECT_LT(pos(1).y(), pos(2).y());
    EXPECT_EQ(pos(0).x(), pos(2).x());
    EXPECT_EQ(pos(0).y(), pos(3).y());
    EXPECT_EQ(pos(1).y(), pos(4).y());
    EXPECT_LT(pos(0).x(), pos(3).x());
}

TEST(RadioGroup, ArrowKeysMoveTheSelection) {
    // Rows: a d / b e / c
    const struct {
        int from;
        Qt::Key key;
        int to;
    } cases[] = {
        {0, Qt::Key_Down, 1},  {1, Qt::Key_Down, 2}, {2, Qt::Key_Down, 3},  {4, Qt::Key_Down, 4},
        {0, Qt::Key_Up, 0},    {3, Qt::Key_Up, 2},   {1, Qt::Key_Right, 4}, {2, Qt::Key_Right, 4},
        {4, Qt::Key_Right, 4}, {4, Qt::Key_Left, 1}, {0, Qt::Key_Left, 0},
    };
    for (const auto& c : cases) {
        TRadioGroup g("Caption", {"a", "b", "c", "d", "e"}, 2);
        g.show();
        g.SetItemIndex(c.from);
        QSignalSpy clicks(&g, &TRadioGroup::Click);
        QTest::keyClick(g.Button(c.from), c.key);
        EXPECT_EQ(g.ItemIndex(), c.to) << c.from << " key " << c.key;
        EXPECT_EQ(clicks.count(), c.to == c.from ? 0 : 1) << c.from << " key " << c.key;
    }
}

TEST(RadioGroup, SpaceSelectsTheFocusedItem) {
    TRadioGroup g("Caption", {"a", "b"}, 1);
    g.show();
    QSignalSpy clicks(&g, &TRadioGroup::Click);
    QTest::keyClick(g.Button(1), Qt::Key_Space);
    EXPECT_EQ(g.ItemIndex(), 1);
    EXPECT_EQ(clicks.count(), 1);
}

TEST(RadioGroup, IsOneTabStopEnteredAtTheSelection) {
    QWidget w;
    auto* before = new QLineEdit(&w);
    auto* g = new TRadioGroup("Level", {"MIN", "+1", "+2", "MAX"}, 2, &w);
    auto* after = new QLineEdit(&w);
    auto* layout = new QVBoxLayout(&w);
    layout->addWidget(before);
    layout->addWidget(g);
    layout->addWidget(after);
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));

    for (int selected : {-1, 2}) {
        g->SetItemIndex(selected);
        before->setFocus();
        QTest::keyClick(before, Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), g->Button(std::max(selected, 0)));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), after) << "selected " << selected;
    }
}

TEST(RadioGroup, AccessibleNamesAreCaptionAndItems) {
    TRadioGroup g("W.B.", {"ATW", "A&B"}, 2);
    EXPECT_EQ(g.accessibleName(), "W.B.");
    EXPECT_EQ(g.Button(0)->accessibleName(), "ATW");
    EXPECT_EQ(g.Button(1)->accessibleName(), "A&B");
    // An ampersand is shown, not taken as a shortcut marker.
    EXPECT_EQ(g.Button(1)->text(), "A&&B");
}

TEST(RadioGroup, NewItemsClearTheSelection) {
    TRadioGroup g("Caption", {"a", "b"}, 1);
    g.SetItemIndex(1);
    QSignalSpy clicks(&g, &TRadioGroup::Click);
    g.SetItems({"x", "y", "z"});
    EXPECT_EQ(g.ItemIndex(), -1);
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_EQ(ShownIndex(g), -1);
    g.SetItemIndex(2);
    EXPECT_EQ(ShownIndex(g), 2);
}

TEST(RadioGroup, DisabledGroupIgnoresTheMouse) {
    TRadioGroup g("Caption", {"a", "b"}, 2);
    g.show();
    g.setEnabled(false);
    QTest::mouseClick(g.Button(1), Qt::LeftButton);
    EXPECT_EQ(g.ItemIndex(), -1);
    // Code still sets a disabled group, as the decoders do.
    g.SetItemIndex(1);
    EXPECT_EQ(ShownIndex(g), 1);
}

}  // namespace
}  // namespace zp
