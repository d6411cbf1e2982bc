#pragma once
// Number edits with an attached pair of up/down buttons: TSpinEdit for integers and
// TSpinFloatEdit for decimal numbers.

#include <QLineEdit>
#include <QWidget>

class QToolButton;

// The up/down button pair at the right edge of a spin edit.
class TSpinButton : public QWidget {
    Q_OBJECT
public:
    explicit TSpinButton(QWidget *parent = nullptr);
    QToolButton *upButton() const { return up_; }
    QToolButton *downButton() const { return down_; }

signals:
    void OnUpClick();
    void OnDownClick();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    QToolButton *up_;
    QToolButton *down_;
};

class TSpinEdit : public QLineEdit {
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

    void UpClick();
    void DownClick();
    TSpinButton *Button() const { return button_; }

signals:
    void OnChange(TSpinEdit *sender);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    TSpinButton *button_;
    int minValue_ = 0;
    int maxValue_ = 0;
    int increment_ = 1;
};

class TSpinFloatEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TSpinFloatEdit(QWidget *parent = nullptr);

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
    QString format(double value) const;

    void UpClick();
    void DownClick();
    TSpinButton *Button() const { return button_; }

signals:
    void OnChange(TSpinFloatEdit *sender);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    TSpinButton *button_;
    double min_ = 0.0;
    double max_ = 100.0;
    int digits_ = 1;
    double increment_ = 1.0;
};
