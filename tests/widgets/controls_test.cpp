// The check box, the track bar, the spin edit and the plain line edit: each
// change event fires for changes made by code as well as by the operator.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <string>
#include <vector>

#include "panel/widgets/check_box.h"
#include "panel/widgets/spin_edit.h"
#include "panel/widgets/track_bar.h"

namespace zp {
namespace {

TEST(CheckBox, ClickFiresForEveryChangeByCodeOrMouse) {
    TCheckBox box("Digital Zoom");
    box.show();
    QSignalSpy clicks(&box, &TCheckBox::Click);
    EXPECT_FALSE(box.Checked());
    const struct {
        bool byMouse;
        bool set;  // for code
        bool checked;
        int clicks;
    } steps[] = {
        {false, true, true, 1}, {false, true, true, 1},  {false, false, false, 2},
        {true, false, true, 3}, {true, false, false, 4}, {false, false, false, 4},
    };
    for (const auto& s : steps) {
        if (s.byMouse) {
            QTest::mouseClick(&box, Qt::LeftButton);
        } else {
            box.SetChecked(s.set);
        }
        EXPECT_EQ(box.Checked(), s.checked);
        EXPECT_EQ(clicks.count(), s.clicks);
    }
}

TEST(LineEdit, TextChangedFiresForCodeButNotForTheSameText) {
    // The pages use QLineEdit as it is: textChanged is their change event.
    QLineEdit edit;
    QSignalSpy changes(&edit, &QLineEdit::textChanged);
    edit.setText("0001");
    edit.setText("0001");
    edit.setText("-001");
    EXPECT_EQ(changes.count(), 2);
    edit.setReadOnly(true);
    edit.setText("0002");
    EXPECT_EQ(changes.count(), 3);
    // Worth knowing: the length limit also cuts text set by code.
    edit.setMaxLength(4);
    edit.setText("123456");
    EXPECT_EQ(edit.text(), "1234");
}

struct BarCase {
    const char* name;
    int min, max, frequency;
    std::vector<std::pair<int, int>> setAndShown;
};

class TrackBar : public ::testing::TestWithParam<BarCase> {};

TEST_P(TrackBar, PositionIsHeldInRangeAndEveryChangeFires) {
    const BarCase& c = GetParam();
    TTrackBar bar(c.min, c.max, c.frequency);
    EXPECT_EQ(bar.orientation(), Qt::Horizontal);
    EXPECT_EQ(bar.Min(), c.min);
    EXPECT_EQ(bar.Max(), c.max);
    EXPECT_EQ(bar.Frequency(), c.frequency);
    EXPECT_EQ(bar.Position(), 0);
    EXPECT_NE(bar.tickPosition(), QSlider::NoTicks);
    QSignalSpy changes(&bar, &TTrackBar::Change);
    int expected = 0;
    int shown = bar.Position();
    for (const auto& [set, want] : c.setAndShown) {
        bar.SetPosition(set);
        EXPECT_EQ(bar.Position(), want) << "set " << set;
        expected += want != shown ? 1 : 0;
        shown = want;
        EXPECT_EQ(changes.count(), expected) << "set " << set;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TrackBar,
    ::testing::Values(
        BarCase{
            "Zoom", 0, 1954, 200, {{1000, 1000}, {1000, 1000}, {5000, 1954}, {-3, 0}, {255, 255}}},
        BarCase{"Focus", -206, 250, 50, {{-1, -1}, {255, 250}, {251, 250}, {-500, -206}, {0, 0}}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(TrackBarKeys, KeysMoveByOneByATickAndToTheEnds) {
    TTrackBar bar(-206, 250, 50);
    bar.show();
    QSignalSpy changes(&bar, &TTrackBar::Change);
    const struct {
        Qt::Key key;
        int position;
    } steps[] = {{Qt::Key_Right, 1},    {Qt::Key_Left, 0},  {Qt::Key_PageUp, 50},
                 {Qt::Key_PageDown, 0}, {Qt::Key_End, 250}, {Qt::Key_Home, -206}};
    for (const auto& s : steps) {
        QTest::keyClick(&bar, s.key);
        EXPECT_EQ(bar.Position(), s.position) << "key " << s.key;
    }
    EXPECT_EQ(changes.count(), 6);
}

TEST(TrackBarRange, NarrowingTheRangeMovesThePositionAndFires) {
    TTrackBar bar(0, 1954, 200);
    bar.SetPosition(1500);
    QSignalSpy changes(&bar, &TTrackBar::Change);
    bar.SetRange(0, 255);
    EXPECT_EQ(bar.Position(), 255);
    EXPECT_EQ(changes.count(), 1);
}

TEST(SpinEdit, TypedTextOutsideTheRangeLeavesTheLastValidNumber) {
    TSpinEdit spin(0, 100, 1);
    EXPECT_EQ(spin.Text(), "1");
    EXPECT_EQ(spin.Value(), 1);
    const struct {
        const char* text;
        int value;
        bool valid;
    } typed[] = {
        {"5", 5, true},
        {"250", 5, false},
        {"", 5, false},
        {"abc", 5, false},
        {"100", 100, true},
        {"101", 100, false},
        {"0", 0, true},
        {"-1", 0, false},
        {"007", 7, true},
        {" 8 ", 8, true},
        {"+5", 8, false},
        {"1.5", 8, false},
        {"99999999999", 8, false},
    };
    QSignalSpy changes(&spin, &TSpinEdit::Change);
    int count = 0;
    for (const auto& t : typed) {
        spin.SetText(t.text);
        EXPECT_EQ(spin.Value(), t.value) << '"' << t.text << '"';
        EXPECT_EQ(spin.TextIsValid(), t.valid) << '"' << t.text << '"';
        EXPECT_EQ(spin.Text(), t.text);
        EXPECT_EQ(changes.count(), ++count) << '"' << t.text << '"';
    }
}

TEST(SpinEdit, TypingIntoTheEditCounts) {
    TSpinEdit spin(0, 100, 1);
    spin.show();
    QTest::keyClick(&spin, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(&spin, "42");
    EXPECT_EQ(spin.Text(), "42");
    EXPECT_EQ(spin.Value(), 42);
    QTest::keyClicks(&spin, "0");  // 420
    EXPECT_EQ(spin.Value(), 42);
    EXPECT_FALSE(spin.TextIsValid());
}

TEST(SpinEdit, LeavingTheEditKeepsWhatWasTyped) {
    QWidget w;
    auto* spin = new TSpinEdit(0, 100, 1, &w);
    auto* other = new QLineEdit(&w);
    auto* layout = new QVBoxLayout(&w);
    layout->addWidget(spin);
    layout->addWidget(other);
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    spin->setFocus();
    QTest::keyClick(spin, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(spin, "250");
    QTest::keyClick(spin, Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), other);
    EXPECT_EQ(spin->Text(), "250");
    EXPECT_EQ(spin->Value(), 1);
}

TEST(SpinEdit, SpinnerStepsFromTheNumberInForceWithoutWrapping) {
    const struct {
        int start;
        const char* typed;  // nullptr: nothing typed
        int steps;
        int value;
    } cases[] = {
        {1, nullptr, 1, 2}, {1, nullptr, -1, 0}, {0, nullptr, -1, 0}, {100, nullptr, 1, 100},
        {1, "250", -1, 0},  {7, "250", 1, 8},    {7, "x", 200, 100},
    };
    for (const auto& c : cases) {
        TSpinEdit spin(0, 100, c.start);
        if (c.typed) {
            spin.SetText(c.typed);
        }
        spin.stepBy(c.steps);
        EXPECT_EQ(spin.Value(), c.value) << c.start << " by " << c.steps;
        EXPECT_EQ(spin.Text(), QString::number(c.value));
        EXPECT_TRUE(spin.TextIsValid());
    }
}

TEST(SpinEdit, ArrowKeysStepAndStopAtTheEnds) {
    TSpinEdit spin(0, 100, 99);
    spin.show();
    QSignalSpy changes(&spin, &TSpinEdit::Change);
    QTest::keyClick(&spin, Qt::Key_Up);
    EXPECT_EQ(spin.Value(), 100);
    QTest::keyClick(&spin, Qt::Key_Up);
    EXPECT_EQ(spin.Value(), 100);
    EXPECT_EQ(changes.count(), 1);
    QTest::keyClick(&spin, Qt::Key_Down);
    EXPECT_EQ(spin.Value(), 99);
    EXPECT_EQ(changes.count(), 2);
}

TEST(SpinEdit, SetValueIsHeldInRangeAndFiresOnlyForNewText) {
    const struct {
        int set;
        int value;
        bool fires;
    } steps[] = {{3, 3, true}, {3, 3, false}, {250, 100, true}, {-4, 0, true}, {0, 0, false}};
    TSpinEdit spin(0, 100, 1);
    for (const auto& s : steps) {
        QSignalSpy changes(&spin, &TSpinEdit::Change);
        spin.SetValue(s.set);
        EXPECT_EQ(spin.Value(), s.value) << s.set;
        EXPECT_EQ(spin.Text(), QString::number(s.value));
        EXPECT_EQ(changes.count(), s.fires ? 1 : 0) << s.set;
    }
    // Setting a number over an invalid text restores the text.
    spin.SetText("oops");
    spin.SetValue(0);
    EXPECT_EQ(spin.Text(), "0");
    EXPECT_TRUE(spin.TextIsValid());
}

}  // namespace
}  // namespace zp
