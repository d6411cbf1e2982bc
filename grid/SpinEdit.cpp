#include "SpinEdit.h"

#include "Platform.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLocale>
#include <QPainter>
#include <QStyleOptionButton>

#include <cmath>
#include <limits>

namespace {

// Only 0 to 9 are digits: the number conversions know no others.
bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// value + step, held at the ends of the integer range instead of wrapping.
int saturatingAdd(int value, long long step)
{
    const long long sum = static_cast<long long>(value) + step;
    if (sum > std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    if (sum < std::numeric_limits<int>::min())
        return std::numeric_limits<int>::min();
    return static_cast<int>(sum);
}

} // namespace

// The glyph resources live in this static library; they must be registered before first use.
static void registerGlyphs()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(glyphs);
        return true;
    }();
    (void)done;
}

// ---------------------------------------------------------------------------------------------
// Repeating button

TTimerSpeedButton::TTimerSpeedButton(QWidget *parent) : QAbstractButton(parent), timer_(new QTimer(this))
{
    setFocusPolicy(Qt::NoFocus);
    timer_->setObjectName(QStringLiteral("RepeatTimer"));
    connect(timer_, &QTimer::timeout, this, &TTimerSpeedButton::TimerExpired);
}

void TTimerSpeedButton::TimerExpired()
{
    timer_->setInterval(100);
    if (!isDown())
        return;
    try {
        emit clicked();
    } catch (...) {
        timer_->stop(); // a failing step ends the repeat; the failure goes on to the caller
        throw;
    }
}

void TTimerSpeedButton::mousePressEvent(QMouseEvent *event)
{
    QAbstractButton::mousePressEvent(event);
    if (event->button() == Qt::LeftButton && AllowTimer && isDown()) {
        timer_->setInterval(400);
        timer_->start();
    }
}

void TTimerSpeedButton::mouseReleaseEvent(QMouseEvent *event)
{
    timer_->stop();
    QAbstractButton::mouseReleaseEvent(event); // clicks once when released over the button
}

void TTimerSpeedButton::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    QStyleOptionButton option;
    option.initFrom(this);
    option.features = QStyleOptionButton::Flat;
    if (isDown())
        option.state |= QStyle::State_Sunken;
    else
        option.state |= QStyle::State_Raised;
    style()->drawControl(QStyle::CE_PushButtonBevel, &option, &p, this);
    const int shift = isDown() ? 1 : 0;
    if (!Glyph.isNull()) {
        QPixmap glyph = Glyph;
        if (!isEnabled()) {
            QImage img = glyph.toImage();
            for (int y = 0; y < img.height(); ++y)
                for (int x = 0; x < img.width(); ++x)
                    if (qAlpha(img.pixel(x, y)) > 0)
                        img.setPixel(x, y, qRgb(0x80, 0x80, 0x80));
            glyph = QPixmap::fromImage(img);
        }
        p.drawPixmap((width() - glyph.width()) / 2 + shift, (height() - glyph.height()) / 2 + shift, glyph);
    }
    if (FocusRect) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = rect().adjusted(3 + shift, 3 + shift, -3 + shift, -3 + shift);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &p, this);
    }
}

// ---------------------------------------------------------------------------------------------
// Button pair

TSpinButton::TSpinButton(QWidget *parent)
    : QWidget(parent), up_(new TTimerSpeedButton(this)), down_(new TTimerSpeedButton(this)), focused_(up_)
{
    registerGlyphs();
    up_->setObjectName(QStringLiteral("UpButton"));
    down_->setObjectName(QStringLiteral("DownButton"));
    up_->Glyph = QPixmap(QStringLiteral(":/glyphs/SpinUp"));
    down_->Glyph = QPixmap(QStringLiteral(":/glyphs/SpinDown"));
    setFocusPolicy(Qt::NoFocus); // TabStop false
    connect(up_, &TTimerSpeedButton::clicked, this, &TSpinButton::OnUpClick);
    connect(down_, &TTimerSpeedButton::clicked, this, &TSpinButton::OnDownClick);
    up_->installEventFilter(this);
    down_->installEventFilter(this);
    resize(20, 25);
}

void TSpinButton::setFocusedButton(TTimerSpeedButton *button)
{
    focused_ = button;
    const bool focus = hasFocus();
    up_->FocusRect = focus && focused_ == up_;
    down_->FocusRect = focus && focused_ == down_;
    up_->update();
    down_->update();
}

bool TSpinButton::eventFilter(QObject *watched, QEvent *event)
{
    // A left press first makes the button the focused one, then gives the focus to the edit.
    if (event->type() == QEvent::MouseButtonPress && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        setFocusedButton(watched == up_ ? up_ : down_);
        if (focusControl_ && focusControl_->isEnabled() && focusControl_->isVisible() && !focusControl_->hasFocus())
            focusControl_->setFocus(Qt::MouseFocusReason);
        else if (focusPolicy() != Qt::NoFocus && !hasFocus())
            setFocus(Qt::MouseFocusReason);
    }
    return false;
}

void TSpinButton::resizeEvent(QResizeEvent *)
{
    const int w = std::max(width(), 15);
    const int half = height() / 2;
    up_->setGeometry(0, 0, w, half);
    down_->setGeometry(0, half - 1, w, height() - half + 1);
}

void TSpinButton::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Space: focused_->click(); break;
    case Qt::Key_Up:
        setFocusedButton(up_);
        up_->click();
        break;
    case Qt::Key_Down:
        setFocusedButton(down_);
        down_->click();
        break;
    default: QWidget::keyPressEvent(event); return;
    }
}

void TSpinButton::focusInEvent(QFocusEvent *event)
{
    QWidget::focusInEvent(event);
    setFocusedButton(focused_);
}

void TSpinButton::focusOutEvent(QFocusEvent *event)
{
    QWidget::focusOutEvent(event);
    setFocusedButton(focused_);
}

// ---------------------------------------------------------------------------------------------
// Common edit part

TSpinEditBase::TSpinEditBase(QWidget *parent) : QLineEdit(parent), button_(new TSpinButton(this))
{
    button_->setObjectName(QStringLiteral("Button"));
    button_->setFocusControl(this);
    button_->resize(15, 17);
    Beep = [] { QApplication::beep(); };
    connect(button_, &TSpinButton::OnUpClick, this, [this] { UpClick(); });
    connect(button_, &TSpinButton::OnDownClick, this, [this] { DownClick(); });
}

void TSpinEditBase::beep()
{
    if (Beep)
        Beep();
}

int TSpinEditBase::MinHeight() const
{
    const QFontMetrics fm(font());
    const QFontMetrics system(QApplication::font());
    return 4 * 1 + fm.height() + std::min(fm.height(), system.height()) / 4 + 2;
}

void TSpinEditBase::placeButtons()
{
    // The pair keeps its width at the right edge, inside the frame; the text ends 2 pixels left of it.
    const int w = button_->width();
    button_->setGeometry(width() - w - 2, 2, w, std::max(height() - 4, 2));
    setTextMargins(0, 0, w + 2, 0);
}

void TSpinEditBase::resizeEvent(QResizeEvent *event)
{
    if (height() < MinHeight()) {
        resize(width(), MinHeight());
        return;
    }
    QLineEdit::resizeEvent(event);
    placeButtons();
}

void TSpinEditBase::changeEvent(QEvent *event)
{
    QLineEdit::changeEvent(event);
    if (event->type() == QEvent::FontChange && height() < MinHeight())
        resize(width(), MinHeight());
}

void TSpinEditBase::focusInEvent(QFocusEvent *event)
{
    QLineEdit::focusInEvent(event);
    if (AutoSelect && event->reason() != Qt::MouseFocusReason)
        selectAll();
}

bool TSpinEditBase::clipboardKey(QKeyEvent *event) const
{
    return event->matches(QKeySequence::Paste) || event->matches(QKeySequence::Cut);
}

// ---------------------------------------------------------------------------------------------
// Integer edit

TSpinEdit::TSpinEdit(QWidget *parent) : TSpinEditBase(parent)
{
    setText(QStringLiteral("0"));
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
    if (isReadOnly())
        beep();
    else
        setValue(saturatingAdd(Value(), increment_));
}

void TSpinEdit::DownClick()
{
    if (isReadOnly())
        beep();
    else
        setValue(saturatingAdd(Value(), -static_cast<long long>(increment_)));
}

void TSpinEdit::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) {
        // The step, and then the key goes its usual way (the edit leaves it to its parents).
        event->key() == Qt::Key_Up ? UpClick() : DownClick();
        QLineEdit::keyPressEvent(event);
        return;
    }
    if (clipboardKey(event) && (!EditorEnabled() || isReadOnly()))
        return;
    const QString t = event->text();
    if (t.size() == 1) {
        const QChar c = t[0];
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            beep(); // Enter changes nothing
            return;
        }
        const bool printable = c.unicode() >= 0x20 && c.unicode() != 0x7F;
        bool accepted = !printable || isAsciiDigit(c) || c == QLatin1Char('+') || c == QLatin1Char('-')
                        || c == QLocale().decimalPoint().front();
        if (!EditorEnabled() && (printable || c == QChar(8)))
            accepted = false;
        if (!accepted) {
            beep();
            return;
        }
    }
    QLineEdit::keyPressEvent(event);
}

void TSpinEdit::focusOutEvent(QFocusEvent *event)
{
    QLineEdit::focusOutEvent(event);
    emit OnExit();
    if (clamp(Value()) != Value())
        setValue(Value());
}

// ---------------------------------------------------------------------------------------------
// Float edit

TSpinFloatEdit::TSpinFloatEdit(QWidget *parent) : TSpinEditBase(parent)
{
    separator_ = QLocale().decimalPoint().front();
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setText(format(min_));
    connect(this, &QLineEdit::textChanged, this, [this] { emit OnChange(this); });
}

QString TSpinFloatEdit::format(double value) const
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'f', digits_);
}

std::optional<double> TSpinFloatEdit::convert(const QString &text) const
{
    QString t = text.trimmed();
    // "3," is the number 3, as typed on the way to "3,5".
    if (t.endsWith(separator_))
        t += QLatin1Char('0');
    QLocale locale;
    locale.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    const double v = locale.toDouble(t, &ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}

double TSpinFloatEdit::Value() const
{
    QString t = text();
    if (t.isEmpty() || t == QLatin1String("-") || t == QString(separator_) || t == QLatin1String("E"))
        t = QStringLiteral("0");
    const double v = convert(t).value_or(min_);
    return v < min_ ? min_ : v > max_ ? max_ : v;
}

void TSpinFloatEdit::showError()
{
    if (!ErrorMessage.isEmpty() && dialogs_)
        dialogs_->messageBox(this, ErrorMessage, QGuiApplication::applicationDisplayName(),
                             platform::MessageButtons::Ok, platform::MessageIcon::None);
}

void TSpinFloatEdit::setValue(double value)
{
    if (value > max_) {
        showError();
        value = max_;
    } else if (value < min_) {
        showError();
        value = min_;
    }
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
    if (digits < 0)
        digits = 0;
    if (digits == digits_)
        return;
    const double v = Value();
    digits_ = digits;
    setValue(v);
}

void TSpinFloatEdit::UpClick()
{
    if (isReadOnly())
        beep();
    else if (OnComputedIncrement)
        OnComputedIncrement(this, true);
    else
        setValue(Value() + increment_);
}

void TSpinFloatEdit::DownClick()
{
    if (isReadOnly())
        beep();
    else if (OnComputedIncrement)
        OnComputedIncrement(this, false);
    else
        setValue(Value() - increment_);
}

void TSpinFloatEdit::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    if (key == Qt::Key_Up || key == Qt::Key_Down) {
        if (EditorEnabled())
            key == Qt::Key_Up ? UpClick() : DownClick();
        return;
    }
    if (clipboardKey(event) && (!EditorEnabled() || isReadOnly()))
        return;
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        QChar c(13);
        if (OnEnterPress)
            OnEnterPress(this, c);
        return;
    }
    if (key == Qt::Key_Escape) {
        setValue(entryValue_);
        selectAll();
        return;
    }
    if (!EditorEnabled())
        return; // no key has an effect
    const QString t = event->text();
    if (t.size() != 1 || t[0].unicode() < 0x20 || t[0].unicode() == 0x7F) {
        QLineEdit::keyPressEvent(event); // control keys pass unchanged
        return;
    }
    const QChar c = t[0];
    if (!(isAsciiDigit(c) || c == QLatin1Char('-') || c == QLatin1Char('e') || c == separator_))
        return;

    const int start = hasSelectedText() ? selectionStart() : cursorPosition();
    const int end = hasSelectedText() ? selectionStart() + static_cast<int>(selectedText().size()) : start;
    const QString current = text();
    const QString next = current.left(start) + c + current.mid(end);
    if (next == QLatin1String("-")) {
        setText(QStringLiteral("-0"));
        setSelection(1, 1);
        return;
    }
    if (next == QString(separator_)) {
        setText(QStringLiteral("0") + separator_ + QStringLiteral("0"));
        setSelection(2, 1);
        return;
    }
    const std::optional<double> v = convert(next);
    bool ok = v && *v >= min_ && *v <= max_ && !(c == separator_ && digits_ == 0);
    if (ok && !next.contains(QLatin1Char('e'), Qt::CaseInsensitive)) {
        const qsizetype sep = next.indexOf(separator_);
        if (sep >= 0 && next.size() - sep - 1 > digits_)
            ok = false;
    }
    if (ok)
        QLineEdit::keyPressEvent(event);
}

void TSpinFloatEdit::focusInEvent(QFocusEvent *event)
{
    TSpinEditBase::focusInEvent(event);
    entryValue_ = Value();
}

void TSpinFloatEdit::focusOutEvent(QFocusEvent *event)
{
    QLineEdit::focusOutEvent(event);
    QString t = text();
    if (t.isEmpty())
        t = format(min_);
    const std::optional<double> v = convert(t);
    if (v && *v >= min_ && *v <= max_) {
        setText(format(*v));
        setValue(convert(text()).value_or(*v));
        emit OnExit();
        return;
    }
    showError();
    setValue(entryValue_);
    selectAll();
    // The focus comes back once the change of focus is over.
    QTimer::singleShot(0, this, [this] { setFocus(Qt::OtherFocusReason); });
}
