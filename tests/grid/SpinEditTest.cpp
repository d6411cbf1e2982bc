// The spin edits with key and mouse input on the real widgets.

#include "FakePlatform.h"
#include "SpinEdit.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>

namespace {

// A window with the edit under test and a second field to move the focus to.
template <typename Edit> struct Host {
    QWidget window;
    Edit *edit = new Edit(&window);
    QLineEdit *other = new QLineEdit(&window);
    int beeps = 0;
    fake::Dialogs dialogs;
    Host()
    {
        auto *layout = new QVBoxLayout(&window);
        layout->addWidget(edit);
        layout->addWidget(other);
        edit->Beep = [this] { ++beeps; };
        window.show();
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
        edit->setFocus(Qt::TabFocusReason);
    }
    void leave()
    {
        other->setFocus(Qt::TabFocusReason);
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }
};

void wind(TSpinFloatEdit *e, platform::Dialogs *dialogs)
{
    e->setDialogs(dialogs);
    e->setDigits(1);
    e->setMax(10.0);
    e->setMin(-10.0);
    e->setIncrement(0.5);
    e->setValue(0.0);
}

} // namespace

TEST(SpinEdit, HeatNumberTypingAndLeaving)
{
    Host<TSpinEdit> h;
    TSpinEdit *e = h.edit;
    e->setMinValue(1);
    e->setMaxValue(100);
    e->setValue(12);
    QSignalSpy changes(e, &TSpinEdit::OnChange);
    e->setCursorPosition(1);
    QTest::keyClick(e, Qt::Key_Backspace);
    EXPECT_EQ(e->text(), QStringLiteral("2"));
    EXPECT_EQ(e->Value(), 2);
    QTest::keyClick(e, Qt::Key_Delete);
    QTest::keyClick(e, Qt::Key_Backspace);
    EXPECT_EQ(e->text(), QString());
    EXPECT_EQ(e->Value(), 1); // MinValue while the text is empty
    QTest::keyClick(e, Qt::Key_0);
    EXPECT_EQ(e->Value(), 0); // not clamped while typing
    EXPECT_EQ(changes.count(), 3);
    h.leave();
    EXPECT_EQ(e->text(), QStringLiteral("1"));

    e->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(e->selectedText(), QStringLiteral("1")); // AutoSelect
    QTest::keyClicks(e, QStringLiteral("4x2"));
    EXPECT_EQ(e->text(), QStringLiteral("42"));
    EXPECT_EQ(h.beeps, 1);
    changes.clear();
    QTest::keyClick(e, Qt::Key_Return);
    EXPECT_EQ(h.beeps, 2); // Enter beeps and changes nothing
    EXPECT_EQ(changes.count(), 0);
    QTest::keyClick(e, Qt::Key_Up);
    EXPECT_EQ(e->text(), QStringLiteral("43"));
    e->setValue(43); // the same text: no change notification
    EXPECT_EQ(changes.count(), 1);
}

TEST(SpinEdit, LimitsAndTheClamp)
{
    TSpinEdit bahn;
    bahn.setMinValue(1);
    bahn.setMaxValue(10);
    bahn.setMaxLength(2);
    bahn.setValue(12);
    EXPECT_EQ(bahn.text(), QStringLiteral("10"));
    bahn.setValue(0);
    EXPECT_EQ(bahn.text(), QStringLiteral("1"));
    TSpinEdit free; // equal limits: none
    free.setValue(-5);
    EXPECT_EQ(free.Value(), -5);
    free.setReadOnly(true);
    int beeps = 0;
    free.Beep = [&] { ++beeps; };
    free.UpClick();
    EXPECT_EQ(free.Value(), -5);
    EXPECT_EQ(beeps, 1);
    EXPECT_GE(bahn.height(), bahn.MinHeight());
}

TEST(SpinFloatEdit, WindTypingSequence)
{
    Host<TSpinFloatEdit> h;
    TSpinFloatEdit *e = h.edit;
    wind(e, &h.dialogs);
    e->selectAll();
    EXPECT_EQ(e->text(), QStringLiteral("0,0"));
    QTest::keyClick(e, Qt::Key_Minus);
    EXPECT_EQ(e->text(), QStringLiteral("-0"));
    EXPECT_EQ(e->selectedText(), QStringLiteral("0"));
    QTest::keyClick(e, Qt::Key_3);
    EXPECT_EQ(e->text(), QStringLiteral("-3"));
    QTest::keyClick(e, Qt::Key_Comma);
    EXPECT_EQ(e->text(), QStringLiteral("-3,"));
    QTest::keyClick(e, Qt::Key_5);
    EXPECT_EQ(e->text(), QStringLiteral("-3,5"));
    QTest::keyClick(e, Qt::Key_5); // one digit only
    EXPECT_EQ(e->text(), QStringLiteral("-3,5"));
    QTest::keyClick(e, Qt::Key_A);
    EXPECT_EQ(e->text(), QStringLiteral("-3,5"));
    EXPECT_DOUBLE_EQ(e->Value(), -3.5);
    EXPECT_EQ(h.beeps, 0); // dropped keys are silent

    e->selectAll();
    QTest::keyClicks(e, QStringLiteral("12")); // 12 is above 10
    EXPECT_EQ(e->text(), QStringLiteral("1"));
    e->selectAll();
    QTest::keyClick(e, Qt::Key_Comma);
    EXPECT_EQ(e->text(), QStringLiteral("0,0"));
    EXPECT_EQ(e->selectedText(), QStringLiteral("0"));
}

TEST(SpinFloatEdit, EscapeAndLeaving)
{
    Host<TSpinFloatEdit> h;
    TSpinFloatEdit *e = h.edit;
    wind(e, &h.dialogs);
    e->setValue(1.5);
    h.leave();
    e->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(e, QStringLiteral("7"));
    EXPECT_EQ(e->text(), QStringLiteral("7"));
    QTest::keyClick(e, Qt::Key_Escape);
    EXPECT_EQ(e->text(), QStringLiteral("1,5"));
    EXPECT_EQ(e->selectedText(), QStringLiteral("1,5"));

    e->setText(QStringLiteral("3,"));
    EXPECT_DOUBLE_EQ(e->Value(), 3.0);
    QSignalSpy exits(e, &TSpinFloatEdit::OnExit);
    h.leave();
    EXPECT_EQ(e->text(), QStringLiteral("3,0"));
    EXPECT_EQ(exits.count(), 1);

    e->setFocus(Qt::TabFocusReason);
    e->setText(QStringLiteral("-"));
    EXPECT_DOUBLE_EQ(e->Value(), 0.0);
    h.leave();
    EXPECT_EQ(e->text(), QStringLiteral("3,0")); // the value it had on entry
    EXPECT_EQ(e->selectedText(), QStringLiteral("3,0"));
    EXPECT_TRUE(e->hasFocus());
    EXPECT_EQ(exits.count(), 1);
    EXPECT_TRUE(h.dialogs.messages.isEmpty()); // no error message set: silent
}

TEST(SpinFloatEdit, ValueClampStepsLimitsAndMessages)
{
    fake::Dialogs dialogs;
    TSpinFloatEdit e;
    wind(&e, &dialogs);
    e.setValue(12.34);
    EXPECT_EQ(e.text(), QStringLiteral("10,0"));
    EXPECT_TRUE(dialogs.messages.isEmpty());
    e.setValue(9.8);
    e.UpClick();
    EXPECT_EQ(e.text(), QStringLiteral("10,0"));
    e.UpClick();
    EXPECT_EQ(e.text(), QStringLiteral("10,0"));
    e.setValue(-2.5);
    EXPECT_EQ(e.text(), QStringLiteral("-2,5"));
    EXPECT_EQ(std::lround(e.Value() * 10), -25);

    e.ErrorMessage = QStringLiteral("Wind zwischen -10 und 10 m/s");
    e.setValue(-11);
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_EQ(dialogs.messages[0].text, e.ErrorMessage);
    EXPECT_EQ(dialogs.messages[0].icon, platform::MessageIcon::None);

    try {
        e.setMin(11);
        FAIL();
    } catch (const std::invalid_argument &x) {
        EXPECT_STREQ(x.what(), "Minimum value must not be greater than maximum value !");
    }
    EXPECT_THROW(e.setMax(-11), std::invalid_argument);
    e.setDigits(2);
    EXPECT_EQ(e.text(), QStringLiteral("-10,00"));
    e.setDigits(40);
    EXPECT_EQ(e.Digits(), 18);

    int computed = 0;
    e.OnComputedIncrement = [&](TSpinFloatEdit *, bool up) { computed += up ? 1 : -1; };
    e.UpClick();
    e.UpClick();
    e.DownClick();
    EXPECT_EQ(computed, 1);
    EXPECT_EQ(e.Value(), -10.0); // the edit itself did not step

    TSpinFloatEdit fresh;
    EXPECT_EQ(fresh.text(), QStringLiteral("0,0")); // Min formatted
}

TEST(SpinButton, RepeatTimingAndFocus)
{
    Host<TSpinEdit> h;
    TSpinEdit *e = h.edit;
    e->setMinValue(0);
    e->setMaxValue(1000);
    e->setValue(0);
    h.leave();
    TTimerSpeedButton *up = e->Button()->UpButton();
    QTest::mousePress(up, Qt::LeftButton);
    EXPECT_TRUE(e->hasFocus()); // the press gives the focus to the edit
    QTimer *timer = up->RepeatTimer();
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 400);
    EXPECT_EQ(e->Value(), 0);
    // Holding for one second: steps at 400, 500, ..., 1000 ms.
    for (int i = 0; i < 7; ++i) {
        up->TimerExpired();
        EXPECT_EQ(timer->interval(), 100);
    }
    EXPECT_EQ(e->Value(), 7);
    QTest::mouseRelease(up, Qt::LeftButton);
    EXPECT_EQ(e->Value(), 8); // and one at the release
    EXPECT_FALSE(timer->isActive());
    up->TimerExpired(); // a late timer event after the release steps nothing
    EXPECT_EQ(e->Value(), 8);

    TTimerSpeedButton *down = e->Button()->DownButton();
    QTest::mouseClick(down, Qt::LeftButton);
    EXPECT_EQ(e->Value(), 7);
    EXPECT_EQ(e->Button()->FocusedButton(), down);
    // The two buttons overlap by one pixel.
    EXPECT_EQ(down->y(), up->height() - 1);
    EXPECT_EQ(up->height() + down->height() - 1, e->Button()->height());
}

namespace {

// A parent that records the keys its children pass on.
struct KeyParent : QWidget {
    QList<int> keys;
    void keyPressEvent(QKeyEvent *event) override { keys << event->key(); }
};

// Types one character the way a keyboard layout that produces it would.
void typeChar(QWidget *w, char16_t c)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(QChar(c)));
    QApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(QChar(c)));
    QApplication::sendEvent(w, &release);
}

// A step that fails, as when the change handler of the edit raises.
struct FailingEdit : TSpinEdit {
    using TSpinEdit::TSpinEdit;
    void UpClick() override { throw std::runtime_error("step refused"); }
};

} // namespace

TEST(SpinEdit, OnlyTheAsciiDigitsAreDigits)
{
    Host<TSpinEdit> h;
    TSpinEdit *e = h.edit;
    e->setMinValue(1);
    e->setMaxValue(100);
    e->setValue(5);
    e->selectAll();
    for (char16_t c : {u'\u0663', u'\uFF13', u'\u096A'}) // Arabic-Indic 3, full-width 3, Devanagari 4
        typeChar(e, c);
    EXPECT_EQ(e->text(), QStringLiteral("5"));
    EXPECT_EQ(h.beeps, 3);
    typeChar(e, u'3');
    EXPECT_EQ(e->text(), QStringLiteral("3"));

    Host<TSpinFloatEdit> f;
    wind(f.edit, &f.dialogs);
    f.edit->selectAll();
    typeChar(f.edit, u'\u0663');
    typeChar(f.edit, u'\uFF13');
    EXPECT_EQ(f.edit->text(), QStringLiteral("0,0"));
    typeChar(f.edit, u'3');
    EXPECT_EQ(f.edit->text(), QStringLiteral("3"));
}

TEST(SpinEdit, StepsAtTheEndsOfTheIntegerRangeSaturate)
{
    TSpinEdit free; // no limits
    free.setValue(std::numeric_limits<int>::max());
    free.UpClick();
    EXPECT_EQ(free.Value(), std::numeric_limits<int>::max());
    free.setValue(std::numeric_limits<int>::min());
    free.DownClick();
    EXPECT_EQ(free.Value(), std::numeric_limits<int>::min());
    free.setIncrement(std::numeric_limits<int>::min()); // a down step by the lowest increment goes up
    free.setValue(5);
    free.DownClick();
    EXPECT_EQ(free.Value(), std::numeric_limits<int>::max());

    TSpinEdit limited;
    limited.setMinValue(-10);
    limited.setMaxValue(std::numeric_limits<int>::max());
    limited.setIncrement(1000);
    limited.setValue(std::numeric_limits<int>::max() - 3);
    limited.UpClick();
    EXPECT_EQ(limited.Value(), std::numeric_limits<int>::max());
}

TEST(SpinEdit, ArrowKeysStepAndArePassedOn)
{
    KeyParent parent;
    auto *e = new TSpinEdit(&parent);
    auto *other = new QLineEdit(&parent);
    other->move(0, 60);
    e->setMinValue(1);
    e->setMaxValue(100);
    e->setValue(5);
    parent.show();
    parent.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&parent));
    e->setFocus(Qt::TabFocusReason);
    QTest::keyClick(e, Qt::Key_Up);
    EXPECT_EQ(e->Value(), 6);
    QTest::keyClick(e, Qt::Key_Down);
    QTest::keyClick(e, Qt::Key_Down);
    EXPECT_EQ(e->Value(), 4);
    EXPECT_EQ(parent.keys, (QList<int>{Qt::Key_Up, Qt::Key_Down, Qt::Key_Down}));
    // Also when the text cannot be typed.
    e->setEditorEnabled(false);
    QTest::keyClick(e, Qt::Key_Up);
    EXPECT_EQ(e->Value(), 5);
    EXPECT_EQ(parent.keys.size(), 4);
}

TEST(SpinButton, AFailingStepStopsTheRepeat)
{
    Host<FailingEdit> h;
    TTimerSpeedButton *up = h.edit->Button()->UpButton();
    QTest::mousePress(up, Qt::LeftButton);
    QTimer *timer = up->RepeatTimer();
    ASSERT_TRUE(timer->isActive());
    EXPECT_THROW(up->TimerExpired(), std::runtime_error); // passed on to the caller
    EXPECT_FALSE(timer->isActive());
    up->setDown(false);
}
