// Command keys, the port lamps, the finish list of the one-barrier mode and the place-text menu.

#include "FormMain.h"

#include "Comms.h"
#include "Dmn_led.h"
#include "Label3D.h"
#include "LbSpeedButton.h"
#include "TimeText.h"

#include <QAction>
#include <QKeyEvent>
#include <QListWidget>
#include <QPointer>
#include <QTimer>

#include <algorithm>

// ---------------------------------------------------------------------------------------------
// Shortcut values

namespace {

constexpr int kShift = 0x2000, kCtrl = 0x4000, kAlt = 0x8000;

// Virtual key codes of the keys the desk uses, and Qt's keys for them.
int virtualKey(int qtKey)
{
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24)
        return 0x70 + (qtKey - Qt::Key_F1);
    if ((qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) || (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z))
        return qtKey; // the same codes
    switch (qtKey) {
    case Qt::Key_Backspace: return 0x08;
    case Qt::Key_Tab: return 0x09;
    case Qt::Key_Return: return 0x0D;
    case Qt::Key_Escape: return 0x1B;
    case Qt::Key_Space: return 0x20;
    case Qt::Key_PageUp: return 0x21;
    case Qt::Key_PageDown: return 0x22;
    case Qt::Key_End: return 0x23;
    case Qt::Key_Home: return 0x24;
    case Qt::Key_Left: return 0x25;
    case Qt::Key_Up: return 0x26;
    case Qt::Key_Right: return 0x27;
    case Qt::Key_Down: return 0x28;
    case Qt::Key_Insert: return 0x2D;
    case Qt::Key_Delete: return 0x2E;
    default: return 0;
    }
}

int qtKeyOf(int vk)
{
    if (vk >= 0x70 && vk <= 0x87)
        return Qt::Key_F1 + (vk - 0x70);
    if ((vk >= 0x30 && vk <= 0x39) || (vk >= 0x41 && vk <= 0x5A))
        return vk;
    for (int key : {Qt::Key_Backspace, Qt::Key_Tab, Qt::Key_Return, Qt::Key_Escape, Qt::Key_Space, Qt::Key_PageUp,
                    Qt::Key_PageDown, Qt::Key_End, Qt::Key_Home, Qt::Key_Left, Qt::Key_Up, Qt::Key_Right,
                    Qt::Key_Down, Qt::Key_Insert, Qt::Key_Delete})
        if (virtualKey(key) == vk)
            return key;
    return 0;
}

} // namespace

int TFormMain::ShortCutValue(const QKeySequence &key)
{
    if (key.isEmpty())
        return 0;
    const QKeyCombination c = key[0];
    const int vk = virtualKey(c.key());
    if (vk == 0)
        return 0;
    int value = vk;
    if (c.keyboardModifiers() & Qt::ShiftModifier)
        value |= kShift;
    if (c.keyboardModifiers() & Qt::ControlModifier)
        value |= kCtrl;
    if (c.keyboardModifiers() & Qt::AltModifier)
        value |= kAlt;
    return value;
}

QKeySequence TFormMain::ShortCutSequence(int value)
{
    const int key = qtKeyOf(value & 0xFF);
    if (key == 0)
        return QKeySequence();
    Qt::KeyboardModifiers mods;
    if (value & kShift)
        mods |= Qt::ShiftModifier;
    if (value & kCtrl)
        mods |= Qt::ControlModifier;
    if (value & kAlt)
        mods |= Qt::AltModifier;
    return QKeySequence(QKeyCombination(mods, static_cast<Qt::Key>(key)));
}

// ---------------------------------------------------------------------------------------------
// Keys

QAction *TFormMain::commandForKey(const QKeyEvent *event) const
{
    const int key = event->key();
    if (key == 0 || key == Qt::Key_unknown || key == Qt::Key_Control || key == Qt::Key_Shift
        || key == Qt::Key_Alt || key == Qt::Key_Meta)
        return nullptr;
    // A keypad key is the same command key as its twin on the main block (Ctrl + keypad 0 is
    // Ctrl+0): the keypad flag takes no part in the comparison.
    const QKeySequence pressed(QKeyCombination(event->modifiers() & ~Qt::KeypadModifier, Qt::Key(key)));
    for (QAction *a : actions())
        if (!a->shortcut().isEmpty() && a->shortcut() == pressed)
            return a;
    return nullptr;
}

bool TFormMain::raceKeyInWindow(QWidget *window, const QKeyEvent *event)
{
    // Only a window that lets them through, or one opened from it (Qt's print dialog over the
    // preview), and only the keys that stop lanes: starting a race stays on the desk.
    bool passes = false;
    for (QWidget *w = window; w && !passes; w = w->parentWidget() ? w->parentWidget()->window() : nullptr)
        passes = w->property(RaceKeysProperty).toBool();
    if (!passes)
        return false;
    QAction *command = commandForKey(event);
    const bool laneStop = std::find(StopEntries.begin() + 1, StopEntries.end(), command) != StopEntries.end();
    if (!command || (command != mStop && !laneStop))
        return false;
    if (command->isEnabled())
        command->trigger();
    return true;
}

bool TFormMain::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::ShortcutOverride && type != QEvent::KeyPress)
        return false;
    if (watched == ListBoxStop && type == QEvent::KeyPress
        && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Delete) {
        ListBoxStopKeyDown(0x2E);
        return true;
    }
    auto *widget = qobject_cast<QWidget *>(watched);
    if (!widget)
        return false;
    if (widget->window() != this)
        return type == QEvent::KeyPress && raceKeyInWindow(widget->window(), static_cast<QKeyEvent *>(event));
    QAction *command = commandForKey(static_cast<QKeyEvent *>(event));
    if (!command)
        return false;
    // The override request never reaches the focused field, so no text field can claim a command
    // key (Ctrl+E, Ctrl+H ... are editing keys on some platforms) and the window's shortcut decides.
    // A key press of a command key arrives only when its command is disabled: it is swallowed.
    return true;
}

void TFormMain::setPortLamps(TComPort *port, bool on)
{
    if (port == ComPort1) {
        Line(1)->Led->setValue(on);
        LedStart->setValue(on);
        return;
    }
    const int first = port == ComPort2 ? 2 : port == ComPort3 ? 5 : port == ComPort4 ? 8 : 0;
    if (first == 0)
        return;
    for (int lane = first; lane < first + 3; ++lane)
        Line(lane)->Led->setValue(on);
}

int TFormMain::PortNumber(const TComPort *port) const
{
    return port == ComPort1 ? 1 : port == ComPort2 ? 2 : port == ComPort3 ? 3 : port == ComPort4 ? 4 : 0;
}

void TFormMain::ComPortOpen(TComPort *port)
{
    setPortLamps(port, true);
    const int n = PortNumber(port);
    if (n == 0)
        return;
    // The thread that stamps this port's edges must not wait in the run queue behind whatever else
    // the machine does.
    PortRealtime[static_cast<std::size_t>(n)].reset();
    const long thread = port->WatcherThreadId();
    QPointer<TFormMain> self(this);
    platform_.realtime.makeRealtime(thread, [self, port, thread, n](platform::RealtimeGrant grant) {
        // An answer for a thread that has ended meanwhile (the port was closed or reopened) counts
        // for nothing.
        if (!self || port->WatcherThreadId() != thread)
            return;
        self->PortRealtime.at(static_cast<std::size_t>(n)) = grant;
        self->UpdateRealtimeNote();
    });
    PortOpened(port);
}

void TFormMain::ComPortClose(TComPort *port)
{
    setPortLamps(port, false);
    if (const int n = PortNumber(port)) {
        PortRealtime[static_cast<std::size_t>(n)].reset();
        UpdateRealtimeNote();
    }
    PortClosed(port);
}

void TFormMain::UpdateRealtimeNote()
{
    const bool without = std::any_of(PortRealtime.begin(), PortRealtime.end(), [](const auto &grant) {
        return grant == platform::RealtimeGrant::Denied;
    });
    RealtimeNote->setVisible(without);
}

// ---------------------------------------------------------------------------------------------
// Start contact and finish barrier

void TFormMain::ShowFinishList()
{
    Model.clearFinishList();
    ShowFinishListEntries();
    ListBoxStop->resize(ListBoxStop->width(), PanelLines->height());
    ListBoxStop->raise();
    ListBoxStop->show();
}

void TFormMain::ShowFinishListEntries()
{
    ListBoxStop->clear();
    for (const meeting::FinishEntry &e : Model.desk().finishList)
        ListBoxStop->addItem(e.text);
}

void TFormMain::StartLockOut(std::uint32_t tick)
{
    Model.lockOut(tick);
    if (TimerGesperrtLuchi->interval() != 0)
        TimerGesperrtLuchi->start();
}

void TFormMain::ComPortEdge(TComPort *port, const platform::LineEdge &edge)
{
    using namespace platform;
    // The lamp of the line shows the level the edge leaves.
    if (const int index = WatchedLineIndex(PortNumber(port), edge.line); index >= 0) {
        LineLevels[static_cast<std::size_t>(index)] = edge.active;
        ShowLineLamp(index);
        if (!WarnedBarriers.isEmpty())
            UpdateBarrierNote();
    }
    if (port == ComPort1) {
        // The status word of port 1 as the edges leave it.
        std::uint32_t bit = 0;
        if (edge.line == EvCts)
            bit = MsCts;
        else if (edge.line == EvDsr)
            bit = MsDsr;
        else if (edge.line == EvRlsd)
            bit = MsRlsd;
        LastModemStatus = (LastModemStatus == 0x55555555u ? 0u : LastModemStatus) & ~bit;
        if (edge.active)
            LastModemStatus |= bit;
        // Every line of a report is examined, each with its own edge: a start contact that
        // changes together with the finish barrier is never lost.
        if (edge.line == EvCts)
            ComPortStop(edge);
        else if (edge.line == EvDsr)
            ComPortStart(edge);
        else if (edge.line == EvRlsd)
            ComPortLine(1, edge);
        return;
    }
    const int first = port == ComPort2 ? 2 : port == ComPort3 ? 5 : port == ComPort4 ? 8 : 0;
    if (first == 0)
        return;
    if (edge.line == EvRlsd)
        ComPortLine(first, edge);
    else if (edge.line == EvDsr)
        ComPortLine(first + 1, edge);
    else if (edge.line == EvCts)
        ComPortLine(first + 2, edge);
}

namespace {

meeting::Edge edgeOf(const platform::LineEdge &e)
{
    return {e.tick, e.nanos, e.active};
}

platform::LineEdge lineEdgeOf(const meeting::Edge &e)
{
    platform::LineEdge l;
    l.tick = e.tick;
    l.nanos = e.nanos;
    l.active = e.active;
    return l;
}

} // namespace

void TFormMain::ComPortStart(const platform::LineEdge &edge)
{
    if (!Model.edgeActs(edge.active))
        return;
    if (Model.lockedOut(edge.tick) || !bStart->isEnabled() || !mStart->isEnabled())
        return;
    const std::vector<std::pair<int, meeting::Edge>> early = Model.takeEarlyLaneEdges();
    // A lane whose edges overtook this one had, at the start instant, the level before the first
    // of them that came after it: that decides whether its barrier was interrupted then.
    StartLevels.clear();
    for (const auto &[lane, laneEdge] : early)
        if (!(laneEdge.nanos != 0 && edge.nanos != 0 && laneEdge.nanos < edge.nanos))
            StartLevels.try_emplace(lane, !laneEdge.active);
    StartRace(edge.tick);
    StartLevels.clear();
    if (Model.settings().oneBarrier)
        ShowFinishList();
    StartLockOut(edge.tick);
    // Lane edges of other ports that overtook this one act as if they had come after it; those
    // from before the start instant stop nothing.
    for (const auto &[lane, laneEdge] : early) {
        // Within the start's millisecond the instants decide (where both are known).
        if (laneEdge.nanos != 0 && edge.nanos != 0 && laneEdge.nanos < edge.nanos)
            continue;
        ComPortLine(lane, lineEdgeOf(laneEdge));
    }
}

void TFormMain::ComPortStop(const platform::LineEdge &edge)
{
    if (!Model.edgeActs(edge.active))
        return;
    if (Model.lockedOut(edge.tick) || bStart->isEnabled())
        return;
    const std::int32_t time = Model.raceTime(edge.tick);
    // An edge from before the start instant (during the start's wait) came while the desk was
    // still ready: like any edge then, it does nothing.
    if (time < 0)
        return;
    StartLockOut(edge.tick);
    if (Model.settings().oneBarrier)
        AddFinishTime(time);
}

void TFormMain::ComPortLine(int lane, const platform::LineEdge &edge)
{
    // A lane line acts through its stop entry: its first edge after the start stops the lane,
    // whichever way the line went. An edge from before the start instant stops nothing.
    if (!StopEntry(lane)->isEnabled()) {
        if (bStart->isEnabled())
            Model.keepEarlyLaneEdge(lane, edgeOf(edge));
        return;
    }
    if (Model.raceTime(edge.tick) < 0)
        return;
    // A barrier interrupted at the start (or when its port came back) first clears: that stops
    // nothing, the runner's edge after it does.
    if (Model.takeClearingEdge(lane, edge.active))
        return;
    StopLane(lane, edge);
}

void TFormMain::AddFinishTime(std::int32_t time)
{
    Model.addFinishTime(time);
    ShowFinishListEntries();
    ListBoxStop->setCurrentRow(ListBoxStop->count() - 1);
}

void TFormMain::ListBoxStopKeyDown(int key)
{
    if (key != 0x2E || ListBoxStop->count() == 0)
        return;
    const int selected = ListBoxStop->currentRow();
    if (selected >= 0) {
        Model.removeFinishEntry(selected);
        ShowFinishListEntries();
    }
    if (ListBoxStop->count() > 0)
        ListBoxStop->setCurrentRow(0);
    else
        ListBoxStop->hide();
}

void TFormMain::TimerGesperrtLuchiTimer()
{
    TimerGesperrtLuchi->stop();
    for (int i = 1; i <= Model.lanes(); ++i)
        if (Line(i)->Led->Value())
            Line(i)->Led->setKind(lkGreen);
}

void TFormMain::AssignFromFinishList(int lane)
{
    if (ListBoxStop->count() == 0)
        return;
    int selected = ListBoxStop->currentRow();
    if (selected < 0)
        selected = 0;
    Model.assignFinishEntry(lane, selected);
    ShowFinishListEntries();
    if (ListBoxStop->count() > 0)
        ListBoxStop->setCurrentRow(0);
    else
        ListBoxStop->hide();
}

void TFormMain::N11Click(QAction *entry)
{
    if (PopupMenuNATag >= 1 && PopupMenuNATag <= LaneRows)
        Model.setPlaceText(PopupMenuNATag, entry->text());
}
