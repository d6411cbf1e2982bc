#include "SpinEdit.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLocale>
#include <QToolButton>

#include <cmath>

// ---------------------------------------------------------------------------------------------

TSpinButton::TSpinButton(QWidget *parent)
    : QWidget(parent), up_(new QToolButton(this)), down_(new QToolButton(this))
{
    up_->setObjectName(QStringLiteral("UpButton"));
    down_->setObjectName(QStringLiteral("DownButton"));
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    for (QToolButton *b : {up_, down_}) {
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoRepeat(true);
        b->setAutoRepeatDelay(400);
        b->setAutoRepeatInterval(100);
    }
    connect(up_, &QToolButton::clicked, this, &TSpinButton::OnUpClick);
    connect(down_, &QToolButton::clicked, this, &TSpinButton::OnDownClick);
    resize(20, 25);
}

void TSpinButton::resizeEvent(QResizeEvent *)
{
    // The lower button starts one pixel above the end of the upper one.
    const int half = height() / 2;
    up_->setGeometry(0, 0, width(), half);
    down_->setGeometry(0, half - 1, width(), height() - half + 1);
}

namespace {
void placeButton(QLineEdit *edit, TSpinButton *button)
{
    const int w = 15;
    button->setGeometry(edit->width() - w - 2, 2, w, edit->height() - 4);
    edit->setTextMargins(0, 0, w + 2, 0);
}
} // namespace

// ---------------------------------------------------------------------------------------------

TSpinEdit::TSpinEdit(QWidget *parent) : QLineEdit(parent), button_(new TSpinButton(this))
{
    button_->setObjectName(QStringLiteral("Button"));
    setText(QStringLiteral("0"));
    connect(button_, &TSpinButton::OnUpClick, this, &TSpinEdit::UpClick);
    connect(button_, &TSpinButton::OnDownClick, this, &TSpinEdit::DownClick);
    connect(this, &QLineEdit::textChanged, this, [this] { emit OnChange(this); });
}

int TSpinEdit::clamp(int value) const
{
    if (minValue_ == maxValue_)
        return value;
    return value < minValue_ ? minValue_ : value > maxValue_ ? maxValue_ : value;
}

int TSpinEdit::Value() const
{
    bool ok = false;
    const int v = text().trimmed().toInt(&ok, 10);
    return ok ? v : minValue_;
}

void TSpinEdit::setValue(int value)
{
    const QString t = QString::number(clamp(value));
    if (t != text())
        setText(t);
}

void TSpinEdit::UpClick()
{
    if (isReadOnly()) {
        QApplication::beep();
        return;
    }
    setValue(Value() + increment_);
}

void TSpinEdit::DownClick()
{
    if (isReadOnly()) {
        QApplication::beep();
        return;
    }
    setValue(Value() - increment_);
}

void TSpinEdit::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Up) {
        UpClick();
        return;
    }
    if (event->key() == Qt::Key_Down) {
        DownClick();
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        QApplication::beep();
        return;
    }
    const QString t = event->text();
    if (t.size() == 1 && t[0].isPrint()) {
        const QChar c = t[0];
        const bool ok = c.isDigit() || c == QLatin1Char('+') || c == QLatin1Char('-')
                        || c == QLocale().decimalPoint().front();
        if (!ok) {
            QApplication::beep();
            return;
        }
    }
    QLineEdit::keyPressEvent(event);
}

void TSpinEdit::focusOutEvent(QFocusEvent *event)
{
    QLineEdit::focusOutEvent(event);
    if (clamp(Value()) != Value())
        setValue(Value());
}

void TSpinEdit::resizeEvent(QResizeEvent *event)
{
    QLineEdit::resizeEvent(event);
    placeButton(this, button_);
}

// ---------------------------------------------------------------------------------------------

TSpinFloatEdit::TSpinFloatEdit(QWidget *parent) : QLineEdit(parent), button_(new TSpinButton(this))
{
    button_->setObjectName(QStringLiteral("Button"));
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setText(format(min_));
    connect(button_, &TSpinButton::OnUpClick, this, &TSpinFloatEdit::UpClick);
    connect(button_, &TSpinButton::OnDownClick, this, &TSpinFloatEdit::DownClick);
    connect(this, &QLineEdit::textChanged, this, [this] { emit OnChange(this); });
}

QString TSpinFloatEdit::format(double value) const
{
    return QLocale().toString(value, 'f', digits_).remove(QLocale().groupSeparator());
}

double TSpinFloatEdit::Value() const
{
    QString t = text().trimmed();
    const QString sep = QLocale().decimalPoint();
    if (t.isEmpty() || t == QLatin1String("-") || t == sep || t == QLatin1String("E"))
        t = QStringLiteral("0");
    bool ok = false;
    double v = QLocale().toDouble(t, &ok);
    if (!ok)
        v = min_;
    return v < min_ ? min_ : v > max_ ? max_ : v;
}

void TSpinFloatEdit::setValue(double value)
{
    if (value > max_)
        value = max_;
    if (value < min_)
        value = min_;
    setText(format(value));
}

void TSpinFloatEdit::setMin(double v)
{
    if (v == min_)
        return;
    if (v > max_)
        throw std::invalid_argument("Minimum value must not be greater than maximum value !");
    min_ = v;
    setValue(Value());
}

void TSpinFloatEdit::setMax(double v)
{
    if (v == max_)
        return;
    if (v < min_)
        throw std::invalid_argument("Maximum value must not be less than minimum value !");
    max_ = v;
    setValue(Value());
}

void TSpinFloatEdit::setDigits(int digits)
{
    if (digits > 18)
        digits = 18;
    if (digits == digits_)
        return;
    const double v = Value();
    digits_ = digits;
    setValue(v);
}

void TSpinFloatEdit::UpClick()
{
    if (isReadOnly()) {
        QApplication::beep();
        return;
    }
    setValue(Value() + increment_);
}

void TSpinFloatEdit::DownClick()
{
    if (isReadOnly()) {
        QApplication::beep();
        return;
    }
    setValue(Value() - increment_);
}

void TSpinFloatEdit::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Up) {
        UpClick();
        return;
    }
    if (event->key() == Qt::Key_Down) {
        DownClick();
        return;
    }
    const QString t = event->text();
    if (t.size() == 1 && t[0].isPrint()) {
        const QChar c = t[0];
        if (!(c.isDigit() || c == QLatin1Char('-') || c == QLocale().decimalPoint().front()))
            return;
    }
    QLineEdit::keyPressEvent(event);
}

void TSpinFloatEdit::focusOutEvent(QFocusEvent *event)
{
    QLineEdit::focusOutEvent(event);
    setValue(Value());
}

void TSpinFloatEdit::resizeEvent(QResizeEvent *event)
{
    QLineEdit::resizeEvent(event);
    placeButton(this, button_);
}
