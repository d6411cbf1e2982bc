#pragma once
// Number edits with an attached pair of up/down buttons: TSpinEdit for integers and
// TSpinFloatEdit for decimal numbers. Both share the button pair TSpinButton, whose two buttons
// repeat while held down.

#include <QAbstractButton>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <optional>

namespace platform {
class Dialogs;
}

// A flat push button that repeats its click while held: the first repeat after 400 ms, then every
// 100 ms, and one click at the release over the button.
class TTimerSpeedButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit TTimerSpeedButton(QWidget *parent = nullptr);
    bool AllowTimer = true;
    bool FocusRect = false;  // draws the focus rectangle
    QTimer *RepeatTimer() const { return timer_; }
    QPixmap Glyph;

    // The repeat timer expired: from now on every 100 ms, and a click while still held.
    void TimerExpired();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QTimer *timer_;
};

class TSpinButton : public QWidget {
    Q_OBJECT
public:
    explicit TSpinButton(QWidget *parent = nullptr);

    TTimerSpeedButton *UpButton() const { return up_; }
    TTimerSpeedButton *DownButton() const { return down_; }
    // The button that shows the focus rectangle while the pair has the focus.
    TTimerSpeedButton *FocusedButton() const { return focused_; }
    void setFocusedButton(TTimerSpeedButton *button);
    QWidget *FocusControl() const { return focusControl_.data(); }
    void setFocusControl(QWidget *control) { focusControl_ = control; }

signals:
    void OnUpClick();
    void OnDownClick();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    TTimerSpeedButton *up_;
    TTimerSpeedButton *down_;
    TTimerSpeedButton *focused_;
    QPointer<QWidget> focusControl_;
};

// Shared by both edits: the button pair at the right edge, minimum height, focus selection.
class TSpinEditBase : public QLineEdit {
    Q_OBJECT
public:
    explicit TSpinEditBase(QWidget *parent = nullptr);
    TSpinButton *Button() const { return button_; }
    bool EditorEnabled() const { return editorEnabled_; }
    void setEditorEnabled(bool enabled) { editorEnabled_ = enabled; }
    bool AutoSelect = true;
    // The default beep; tests count it instead of hearing it.
    std::function<void()> Beep;
    // The lowest height the edit may have for its font.
    int MinHeight() const;

    virtual void UpClick() = 0;
    virtual void DownClick() = 0;

signals:
    void OnExit();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void changeEvent(QEvent *event) override;
    void beep();
    bool clipboardKey(QKeyEvent *event) const;

private:
    void placeButtons();
    TSpinButton *button_;
    bool editorEnabled_ = true;
};

class TSpinEdit : public TSpinEditBase {
    Q_OBJECT
public:
    explicit TSpinEdit(QWidget *parent = nullptr);

    // The text as an integer; MinValue when it does not convert. Not clamped.
    int Value() const;
    // Clamps (unless the limits are equal) and shows the value.
    void setValue(int value);
    int MinValue() const { return minValue_; }
    void setMinValue(int v) { minValue_ = v; }
    int MaxValue() const { return maxValue_; }
    void setMaxValue(int v) { maxValue_ = v; }
    int Increment() const { return increment_; }
    void setIncrement(int v) { increment_ = v; }
    int clamp(int value) const;

    void UpClick() override;
    void DownClick() override;

signals:
    void OnChange(TSpinEdit *sender);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    int minValue_ = 0;
    int maxValue_ = 0;
    int increment_ = 1;
};

class TSpinFloatEdit : public TSpinEditBase {
    Q_OBJECT
public:
    explicit TSpinFloatEdit(QWidget *parent = nullptr);

    void setDialogs(platform::Dialogs *dialogs) { dialogs_ = dialogs; }

    double Value() const;
    void setValue(double value);
    double Min() const { return min_; }
    void setMin(double v);
    double Max() const { return max_; }
    void setMax(double v);
    int Digits() const { return digits_; }
    void setDigits(int digits);
    double Increment() const { return increment_; }
    void setIncrement(double v) { increment_ = v; }
    QString ErrorMessage;
    // Fired for Enter (the key is dropped afterwards).
    std::function<void(TSpinFloatEdit *, QChar &key)> OnEnterPress;
    // When set, replaces the stepping: true for up, false for down.
    std::function<void(TSpinFloatEdit *, bool increment)> OnComputedIncrement;

    QString format(double value) const;
    QChar DecimalSeparator() const { return separator_; }
    double EntryValue() const { return entryValue_; }

    void UpClick() override;
    void DownClick() override;

signals:
    void OnChange(TSpinFloatEdit *sender);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    std::optional<double> convert(const QString &text) const;
    void showError();
    platform::Dialogs *dialogs_ = nullptr;
    double min_ = 0.0;
    double max_ = 100.0;
    int digits_ = 1;
    double increment_ = 1.0;
    double entryValue_ = 0.0;
    QChar separator_;
};
