// Supervision of the serial lines: the level of every watched line in sight (the lamps of the
// main window and of the settings dialog), a port whose adapter is pulled out told at once (lamp,
// note, cue, the race log) and opened again when the adapter comes back, barriers interrupted at
// the start warned about and their clearing edge kept from stopping a lane, and the question
// before a heat with an interrupted signal is entered.

#include "FormMain.h"

#include "CfgDialog.h"
#include "Comms.h"
#include "Dmn_led.h"

#include <QGuiApplication>
#include <QLabel>
#include <QTime>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <tuple>
#include <utility>

namespace {

const QColor kStrip(40, 40, 40);
const QColor kLostNote(200, 0, 0);
const QColor kBackNote(0, 110, 0);
const QColor kBarrierNote(255, 200, 0);

QFont stripFont()
{
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(13);
    f.setBold(true);
    return f;
}

void paint(QWidget *w, const QColor &background, const QColor &text)
{
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, background);
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        pal.setColor(g, QPalette::WindowText, text);
    w->setPalette(pal);
    w->setAutoFillBackground(true);
}

QString portName(const TComPort *port)
{
    return QStringLiteral("COM%1").arg(port->Port());
}

// The modem-status bit of a watched line.
quint32 statusBit(unsigned line)
{
    switch (line) {
    case platform::EvCts: return platform::MsCts;
    case platform::EvDsr: return platform::MsDsr;
    case platform::EvRlsd: return platform::MsRlsd;
    default: return 0;
    }
}

QString barrierName(const WatchedLine &w)
{
    return w.role == WatchedLine::Finish ? QStringLiteral("Ziel") : QStringLiteral("Bahn %1").arg(w.lane);
}

} // namespace

void TFormMain::buildLineLamps()
{
    PanelLineLamps = new QWidget(Panel1);
    PanelLineLamps->setObjectName(QStringLiteral("PanelLineLamps"));
    PanelLineLamps->resize(1020, LineLampsHeight);
    paint(PanelLineLamps, kStrip, Qt::white);
    int x = 6;
    for (int i = 0; i < kWatchedLines; ++i) {
        const WatchedLine &w = WatchedLines()[static_cast<std::size_t>(i)];
        auto *lamp = new TLineLamp(QString::fromUtf8(w.shortText), QString::fromUtf8(w.name), PanelLineLamps);
        lamp->setObjectName(QStringLiteral("LineLamp") + QString::fromUtf8(w.shortText));
        lamp->setFont(stripFont());
        paint(lamp, kStrip, Qt::white);
        lamp->setGeometry(x, 0, lamp->NeededWidth(), LineLampsHeight);
        x += lamp->width() + 9;
        LineLamps[static_cast<std::size_t>(i)] = lamp;
    }
    for (QLabel **note : {&LineNote, &BarrierNote}) {
        *note = new QLabel(PanelLineLamps);
        (*note)->setFont(stripFont());
        (*note)->setAlignment(Qt::AlignCenter);
        (*note)->hide();
    }
    LineNote->setObjectName(QStringLiteral("LineNote"));
    BarrierNote->setObjectName(QStringLiteral("BarrierNote"));
    paint(BarrierNote, kBarrierNote, Qt::black);
}

TComPort *TFormMain::PortOf(int n) const
{
    switch (n) {
    case 1: return ComPort1;
    case 2: return ComPort2;
    case 3: return ComPort3;
    case 4: return ComPort4;
    default: return nullptr;
    }
}

QString TFormMain::PortLinesText(int n)
{
    if (n == 1)
        return QStringLiteral("Start, Ziel, Bahn 1");
    const int first = 3 * n - 4;
    return QStringLiteral("Bahn %1, %2, %3").arg(first).arg(first + 1).arg(first + 2);
}

TLineLamp::State TFormMain::LineState(int index) const
{
    const WatchedLine &w = WatchedLines().at(static_cast<std::size_t>(index));
    if (Supervised.at(static_cast<std::size_t>(w.port)).lost)
        return TLineLamp::State::Lost;
    const std::optional<bool> level = LineLevels.at(static_cast<std::size_t>(index));
    if (!level)
        return TLineLamp::State::Closed;
    // A barrier is interrupted (a start contact given) at the level on which its line acts.
    return Model.edgeActs(*level) ? TLineLamp::State::Interrupted : TLineLamp::State::Clear;
}

void TFormMain::ShowLineLamp(int index)
{
    const WatchedLine &w = WatchedLines().at(static_cast<std::size_t>(index));
    const TLineLamp::State state = LineState(index);
    const QString port = portName(PortOf(w.port));
    LineLamps.at(static_cast<std::size_t>(index))->setLampState(state, port);
    if (CfgDialog)
        CfgDialog->Lamps.at(static_cast<std::size_t>(index))->setLampState(state, port);
}

void TFormMain::ShowLineLamps()
{
    for (int i = 0; i < kWatchedLines; ++i)
        ShowLineLamp(i);
    // The lamp left of START: port 1 open (green), its device gone (red), or closed (dark).
    const QString state = Supervised[1].lost ? QStringLiteral("getrennt")
                          : ComPort1->Connected() ? QStringLiteral("offen")
                                                  : QStringLiteral("geschlossen");
    const QString text = QStringLiteral("Port 1 (%1): %2").arg(portName(ComPort1), state);
    LedStart->setToolTip(text);
    LedStart->setAccessibleDescription(text);
}

void TFormMain::PortOpened(TComPort *port)
{
    const int n = PortNumber(port);
    if (n == 0)
        return;
    PortSupervision &watched = Supervised[static_cast<std::size_t>(n)];
    const bool returned = watched.lost;
    watched.lost = false;
    watched.unopened.clear();
    watched.identity = platform_.deviceMonitor.identity(port->DeviceNode());
    // The levels as they are now; no edge is made of them.
    const quint32 status = port->GetModemStatus();
    for (int i = 0; i < kWatchedLines; ++i)
        if (const WatchedLine &w = WatchedLines()[static_cast<std::size_t>(i)]; w.port == n) {
            LineLevels[static_cast<std::size_t>(i)] = (status & statusBit(w.line)) != 0;
            OpenLevels[static_cast<std::size_t>(i)] = LineLevels[static_cast<std::size_t>(i)];
        }
    if (n == 1)
        LedStart->setKind(lkGreen);
    if (returned) {
        Model.portBack(portName(port), QTime::currentTime());
        if (!ReturnedPorts.contains(portName(port)))
            ReturnedPorts << portName(port);
        TimerLineNote->start();
        MarkBlockedLanes(n);
    }
    ShowLineLamps();
    UpdateLineNote();
    UpdateBarrierNote();
}

void TFormMain::PortClosed(TComPort *port)
{
    const int n = PortNumber(port);
    if (n == 0)
        return;
    Supervised[static_cast<std::size_t>(n)] = {};
    for (int i = 0; i < kWatchedLines; ++i)
        if (WatchedLines()[static_cast<std::size_t>(i)].port == n) {
            LineLevels[static_cast<std::size_t>(i)].reset();
            OpenLevels[static_cast<std::size_t>(i)].reset();
        }
    if (n == 1)
        LedStart->setKind(lkGreen);
    Model.portForgotten(portName(port));
    ReturnedPorts.removeAll(portName(port));
    ShowLineLamps();
    UpdateLineNote();
    UpdateBarrierNote();
}

void TFormMain::ComPortLost(TComPort *port, int error)
{
    const int n = PortNumber(port);
    if (n == 0)
        return;
    Supervised[static_cast<std::size_t>(n)].lost = true;
    Supervised[static_cast<std::size_t>(n)].unopened.clear();
    setPortLamps(port, false); // the rows' lamps of its lanes as for a port that is not open
    for (int i = 0; i < kWatchedLines; ++i)
        if (WatchedLines()[static_cast<std::size_t>(i)].port == n) {
            LineLevels[static_cast<std::size_t>(i)].reset();
            OpenLevels[static_cast<std::size_t>(i)].reset();
        }
    if (n == 1) {
        LedStart->setValue(true);
        LedStart->setKind(lkRed);
    }
    // The time of day at which its thread saw the device fail.
    const qint64 ago = std::max<qint64>(0, (platform::monotonicNanos() - port->LostAt()) / 1000000);
    Model.portLost(portName(port), QTime::currentTime().addMSecs(static_cast<int>(-std::min<qint64>(ago, 86400000))));
    ReturnedPorts.removeAll(portName(port));
    playCue("Audio-Warnung.wav");
    qWarning("%s: Verbindung getrennt (%s)", qPrintable(portName(port)), std::strerror(error));
    ShowLineLamps();
    UpdateLineNote();
    UpdateBarrierNote();
}

void TFormMain::DeviceChanged(const platform::DeviceChange &change)
{
    for (int n = 1; n <= 4; ++n) {
        TComPort *port = PortOf(n);
        // Two adapters of the same make without a serial number carry the same name: such a port is
        // known by its node alone, so that pulling out one never takes the other with it.
        QString identity = Supervised[static_cast<std::size_t>(n)].identity;
        for (int m = 1; m <= 4; ++m)
            if (m != n && !identity.isEmpty() && Supervised[static_cast<std::size_t>(m)].identity == identity)
                identity = port->DeviceNode();
        const bool known = !identity.isEmpty() && (change.node == identity || change.names.contains(identity));
        if (change.kind == platform::DeviceChange::Removed) {
            // The device node of an open port vanished: the port is lost, whether or not its thread
            // has noticed yet.
            if (port->Connected() && (known || change.node == port->DeviceNode() || change.names.contains(port->DeviceNode())))
                port->Lose(ENODEV);
            continue;
        }
        // Only what stays the same across a replug says that the device is this port's: another
        // adapter may come under the number this one had.
        if (!port->Lost() || !known)
            continue;
        // Through COMn's own name where that leads to the device again (a comN link, a virtual
        // line, the same number), otherwise at the node it came back under.
        const QString own = platform_.serial.deviceName(port->Port());
        const bool ownName = !own.isEmpty() && platform_.deviceMonitor.identity(own) == identity;
        TryReopen(n, ownName ? QString() : change.node, 10);
    }
}

void TFormMain::TryReopen(int n, const QString &node, int triesLeft)
{
    TComPort *port = PortOf(n);
    if (!port || !port->Lost() || port->Reopen(node))
        return;
    PortSupervision &watched = Supervised[static_cast<std::size_t>(n)];
    if (triesLeft > 0) {
        QTimer::singleShot(500, this, [this, n, node, triesLeft] { TryReopen(n, node, triesLeft - 1); });
        return;
    }
    watched.unopened = node.isEmpty() ? port->DeviceNode() : node;
    qWarning("%s: wieder angeschlossen (%s), aber nicht zu öffnen", qPrintable(portName(port)),
             qPrintable(watched.unopened));
    UpdateLineNote();
}

void TFormMain::UpdateLineNote()
{
    QStringList lost;
    for (int n = 1; n <= 4; ++n)
        if (Supervised[static_cast<std::size_t>(n)].lost)
            lost << QStringLiteral("%1 getrennt \u2013 %2 ohne Signal%3")
                        .arg(portName(PortOf(n)), PortLinesText(n),
                             Supervised[static_cast<std::size_t>(n)].unopened.isEmpty()
                                 ? QString()
                                 : QStringLiteral(" (wieder eingesteckt, lässt sich nicht öffnen: Einstellungen mit "
                                                  "OK übernehmen)"));
    if (!lost.isEmpty()) {
        LineNote->setProperty("fullText", lost.join(QStringLiteral("; ")));
        LineNote->setToolTip(
            lost.join(QLatin1Char('\n'))
            + QStringLiteral("\n\nDie Lichtschranken dieser Leitungen melden nichts: Zeiten dieser Bahnen von Hand "
                             "nehmen (F-Tasten). Sobald der Adapter wieder eingesteckt ist, öffnet das Pult den "
                             "Port von selbst wieder; die Unterbrechung steht im Protokoll des Laufs."));
        paint(LineNote, kLostNote, Qt::white);
    } else if (!ReturnedPorts.isEmpty()) {
        LineNote->setProperty("fullText", ReturnedPorts.join(QStringLiteral(", ")) + QStringLiteral(" wieder verbunden"));
        LineNote->setToolTip(LineNote->property("fullText").toString());
        paint(LineNote, kBackNote, Qt::white);
    } else {
        LineNote->setProperty("fullText", QString());
        LineNote->setToolTip(QString());
    }
    LayOutLineNotes();
}

void TFormMain::LayOutLineNotes()
{
    const int left = LineLamps.back()->geometry().right() + 12;
    const int room = 1016 - left;
    const QString lineText = LineNote->property("fullText").toString();
    const QString barrierText = BarrierNote->property("fullText").toString();
    const QFontMetrics fm(stripFont());
    const auto needed = [&fm](const QString &text) { return text.isEmpty() ? 0 : fm.horizontalAdvance(text) + 14; };
    // Each note as wide as its text; when both do not fit, the barrier warning keeps at least half.
    int barrierWidth = std::min(needed(barrierText), room);
    int lineWidth = std::min(needed(lineText), room - (barrierWidth > 0 ? std::min(barrierWidth, room / 2) + 6 : 0));
    if (barrierWidth > 0)
        barrierWidth = std::min(barrierWidth, room - (lineWidth > 0 ? lineWidth + 6 : 0));
    int x = left;
    for (auto [note, text, width] : {std::tuple{LineNote, lineText, lineWidth}, std::tuple{BarrierNote, barrierText, barrierWidth}}) {
        if (text.isEmpty() || width <= 0) {
            note->clear();
            note->hide();
            continue;
        }
        note->setText(fm.elidedText(text, Qt::ElideRight, width - 10));
        note->setGeometry(x, 3, width, LineLampsHeight - 6);
        note->show();
        x += width + 6;
    }
}

QStringList TFormMain::BlockedBarriers() const
{
    QStringList blocked;
    for (int i = 0; i < kWatchedLines; ++i) {
        const WatchedLine &w = WatchedLines()[static_cast<std::size_t>(i)];
        // The finish barrier times only in the one-barrier mode; a lane's only when it takes part.
        const bool timing = w.role == WatchedLine::Finish ? Model.settings().oneBarrier
                            : w.role == WatchedLine::Lane ? w.lane <= Model.lanes() && Model.lane(w.lane).on
                                                          : false;
        if (timing && LineState(i) == TLineLamp::State::Interrupted)
            blocked << barrierName(w);
    }
    return blocked;
}

void TFormMain::WarnBlockedBarriers()
{
    WarnedBarriers = BlockedBarriers();
    UpdateBarrierNote();
}

void TFormMain::UpdateBarrierNote()
{
    // A barrier warned about leaves the warning once it is clear.
    const QStringList blocked = BlockedBarriers();
    WarnedBarriers.removeIf([&blocked](const QString &b) { return !blocked.contains(b); });
    QString text;
    if (WarnedBarriers.size() == 1)
        text = QStringLiteral("Lichtschranke %1 unterbrochen").arg(WarnedBarriers.first());
    else if (WarnedBarriers.size() > 1)
        text = QStringLiteral("Lichtschranken %1 unterbrochen").arg(WarnedBarriers.join(QStringLiteral(", ")));
    BarrierNote->setProperty("fullText", text);
    BarrierNote->setToolTip(text.isEmpty() ? QString()
                                           : text + QStringLiteral(": die Lichtschranke ausrichten oder freimachen. Der "
                                                                   "Lauf läuft; die erste Flanke einer beim Start "
                                                                   "unterbrochenen Bahn (das Freiwerden) hält sie nicht an."));
    LayOutLineNotes();
}

void TFormMain::MarkBlockedLanes(int port)
{
    if (!Model.raceOnDesk() || Model.allStopped())
        return;
    for (int i = 0; i < kWatchedLines; ++i) {
        const WatchedLine &w = WatchedLines()[static_cast<std::size_t>(i)];
        if (w.port != port || w.role != WatchedLine::Lane || !Model.lane(w.lane).running)
            continue;
        Model.setBlockedAtStart(w.lane, !Supervised.at(static_cast<std::size_t>(w.port)).lost
                                            && InterruptedSinceOpening(i, LineLevels[static_cast<std::size_t>(i)]));
    }
}

bool TFormMain::InterruptedSinceOpening(int index, const std::optional<bool> &level) const
{
    return level && Model.edgeActs(*level) && OpenLevels.at(static_cast<std::size_t>(index)) != level;
}

void TFormMain::RaceStateChanged()
{
    const meeting::RaceState state = Model.desk().state;
    if (state == LastRaceState)
        return;
    const meeting::RaceState was = std::exchange(LastRaceState, state);
    if (was == meeting::RaceState::Ready && state == meeting::RaceState::Running) {
        for (int lane = 1; lane <= Model.lanes(); ++lane) {
            const int index = LaneLineIndex(lane);
            if (index < 0 || !Model.lane(lane).running)
                continue;
            const auto early = StartLevels.find(lane);
            const std::optional<bool> level =
                early != StartLevels.end() ? std::optional<bool>(early->second) : LineLevels[static_cast<std::size_t>(index)];
            Model.setBlockedAtStart(lane, InterruptedSinceOpening(index, level));
        }
        WarnBlockedBarriers();
    } else if (state == meeting::RaceState::Ready) {
        WarnedBarriers.clear();
        UpdateBarrierNote();
    }
}

bool TFormMain::ConfirmInterruptedEntry()
{
    const QStringList log = Model.raceLog();
    if (log.isEmpty())
        return true;
    const QString text =
        QStringLiteral("Während dieses Laufs war das Signal unterbrochen:\n\n%1\n\nZeiten, die die Lichtschranken in "
                       "dieser Zeit genommen hätten, fehlen oder sind falsch. Bitte die betroffenen Bahnen prüfen.\n\n"
                       "Lauf trotzdem eintragen?")
            .arg(log.join(QLatin1Char('\n')));
    return platform_.dialogs.messageBox(this, text, QGuiApplication::applicationDisplayName(),
                                        platform::MessageButtons::YesNoDefaultNo, platform::MessageIcon::Warning)
           == platform::MbYes;
}
