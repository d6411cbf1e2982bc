// Command keys, the port lamps, the finish list of the one-barrier mode and the place-text menu.

#include "FormMain.h"

#include "Comms.h"
#include "Dmn_led.h"
#include "Label3D.h"

#include <QAction>
#include <QKeyEvent>
#include <QListWidget>
#include <QTimer>

QAction *TFormMain::commandForKey(const QKeyEvent *event) const
{
    const int key = event->key();
    if (key == 0 || key == Qt::Key_unknown || key == Qt::Key_Control || key == Qt::Key_Shift
        || key == Qt::Key_Alt || key == Qt::Key_Meta)
        return nullptr;
    const QKeySequence pressed(event->keyCombination());
    for (QAction *a : actions())
        if (!a->shortcut().isEmpty() && a->shortcut() == pressed)
            return a;
    return nullptr;
}

bool TFormMain::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::ShortcutOverride && type != QEvent::KeyPress)
        return false;
    auto *widget = qobject_cast<QWidget *>(watched);
    if (!widget || widget->window() != this)
        return false;
    QAction *command = commandForKey(static_cast<QKeyEvent *>(event));
    if (!command)
        return false;
    // A focused text field must not claim a command key (Ctrl+E, Ctrl+H ... are editing keys of
    // some platforms): the override request never reaches it, so the window's shortcut decides.
    if (type == QEvent::ShortcutOverride)
        return true;
    // A key press arrives only when no enabled shortcut took the key: the command is disabled.
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

void TFormMain::ComPortOpen(TComPort *port)
{
    setPortLamps(port, true);
}

void TFormMain::ComPortClose(TComPort *port)
{
    setPortLamps(port, false);
}

void TFormMain::TimerGesperrtLuchiTimer()
{
    TimerGesperrtLuchi->stop();
    for (int i = 1; i <= LineCount; ++i)
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
    TFrameLine *row = Line(lane);
    row->LabelTime->setText(ListBoxStop->item(selected)->text());
    row->LabelTime->setTransparent(false);
    ++ListBoxStopTag;
    row->ePlatz->setCaption(QString::number(ListBoxStopTag));
    delete ListBoxStop->takeItem(selected);
    if (ListBoxStop->count() > 0) {
        ListBoxStop->setCurrentRow(0);
    } else {
        ListBoxStopTag = 0;
        ListBoxStop->hide();
    }
}

void TFormMain::N11Click(QAction *entry)
{
    if (PopupMenuNATag >= 1 && PopupMenuNATag <= LaneRows)
        Line(PopupMenuNATag)->ePlatz->setCaption(entry->text());
}
