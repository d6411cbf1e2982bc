#include "LineLamps.h"

#include "Serial.h"

#include <QPainter>

using platform::EvCts;
using platform::EvDsr;
using platform::EvRlsd;

const std::array<WatchedLine, kWatchedLines> &WatchedLines()
{
    static const std::array<WatchedLine, kWatchedLines> lines = {{
        {1, EvDsr, WatchedLine::Start, 0, "Start", "Startkontakt"},
        {1, EvCts, WatchedLine::Finish, 0, "Ziel", "Ziel-Lichtschranke"},
        {1, EvRlsd, WatchedLine::Lane, 1, "1", "Bahn 1"},
        {2, EvRlsd, WatchedLine::Lane, 2, "2", "Bahn 2"},
        {2, EvDsr, WatchedLine::Lane, 3, "3", "Bahn 3"},
        {2, EvCts, WatchedLine::Lane, 4, "4", "Bahn 4"},
        {3, EvRlsd, WatchedLine::Lane, 5, "5", "Bahn 5"},
        {3, EvDsr, WatchedLine::Lane, 6, "6", "Bahn 6"},
        {3, EvCts, WatchedLine::Lane, 7, "7", "Bahn 7"},
        {4, EvRlsd, WatchedLine::Lane, 8, "8", "Bahn 8"},
        {4, EvDsr, WatchedLine::Lane, 9, "9", "Bahn 9"},
        {4, EvCts, WatchedLine::Lane, 10, "10", "Bahn 10"},
    }};
    return lines;
}

int WatchedLineIndex(int port, unsigned line)
{
    for (int i = 0; i < kWatchedLines; ++i)
        if (WatchedLines()[static_cast<std::size_t>(i)].port == port && WatchedLines()[static_cast<std::size_t>(i)].line == line)
            return i;
    return -1;
}

int LaneLineIndex(int lane)
{
    for (int i = 0; i < kWatchedLines; ++i) {
        const WatchedLine &w = WatchedLines()[static_cast<std::size_t>(i)];
        if (w.role == WatchedLine::Lane && w.lane == lane)
            return i;
    }
    return -1;
}

TLineLamp::TLineLamp(const QString &caption, const QString &name, QWidget *parent) : QLabel(caption, parent), name_(name)
{
    setIndent(LampSize + 4);
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setLampState(State::Closed);
}

QColor TLineLamp::LampColour(State state)
{
    switch (state) {
    case State::Clear: return QColor(0, 210, 0);
    case State::Interrupted:
    case State::Lost: return QColor(230, 0, 0);
    case State::Closed: break;
    }
    return QColor(128, 128, 128);
}

void TLineLamp::setLampState(State state, const QString &port)
{
    const bool contact = name_ == QLatin1String("Startkontakt");
    QString meaning;
    switch (state) {
    case State::Closed: meaning = QStringLiteral("Port geschlossen"); break;
    case State::Clear: meaning = contact ? QStringLiteral("bereit") : QStringLiteral("frei"); break;
    case State::Interrupted: meaning = contact ? QStringLiteral("ausgelöst") : QStringLiteral("unterbrochen"); break;
    case State::Lost: meaning = QStringLiteral("kein Signal (%1 getrennt)").arg(port); break;
    }
    const QString text = name_ + QStringLiteral(": ") + meaning;
    if (state == state_ && port == port_ && toolTip() == text)
        return;
    state_ = state;
    port_ = port;
    setToolTip(text);
    setAccessibleDescription(text);
    update();
}

int TLineLamp::NeededWidth() const
{
    return indent() + fontMetrics().horizontalAdvance(text()) + 2;
}

void TLineLamp::paintEvent(QPaintEvent *event)
{
    QLabel::paintEvent(event);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF dot(1.5, (height() - LampSize) / 2.0 + 0.5, LampSize - 1, LampSize - 1);
    const QColor colour = LampColour(state_);
    p.setPen(QPen(colour.darker(170), 1));
    p.setBrush(colour);
    p.drawEllipse(dot);
    if (state_ == State::Lost) {
        // A cross: the line has no signal at all, which an interrupted barrier's red alone would not say.
        p.setPen(QPen(Qt::white, 1.8));
        const QRectF x = dot.adjusted(3, 3, -3, -3);
        p.drawLine(x.topLeft(), x.bottomRight());
        p.drawLine(x.topRight(), x.bottomLeft());
    }
}
