// The race clock and the race state machine: start, stops, STOPP, false start, reset, calls,
// set keys, sound, time of day and the place recount.

#include "FormMain.h"

#include "Dmn_led.h"
#include "Label3D.h"
#include "LbSpeedButton.h"
#include "TimeText.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QScreen>
#include <QTime>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cmath>
#include <tuple>

void TFormMain::playCue(const char *fileName)
{
    if (SoundOn)
        platform_.sound.play(QString::fromLatin1(fileName));
}

QStringList TFormMain::CueFiles()
{
    return {QStringLiteral("Audio-Auf-Platz.wav"), QStringLiteral("Audio-Fertig.wav"), QStringLiteral("Audio-Start.wav"),
            QStringLiteral("Audio-Start-Fehl.wav"), QStringLiteral("Audio-Stopp.wav"), QStringLiteral("Audio-Warnung.wav")};
}

std::int32_t TFormMain::RaceTimeNow()
{
    // Unsigned 32-bit difference: a race across the wrap of the tick counter is timed correctly.
    return Model.raceTime(platform_.ticks.tickCount());
}

std::uint32_t TFormMain::RunMask() const
{
    std::uint32_t mask = 0;
    for (int i = 1; i <= LaneRows; ++i)
        if (Model.lane(i).running)
            mask |= 1u << (i - 1);
    return mask;
}

void TFormMain::bStart2Click()
{
    StartRace();
}

void TFormMain::StartRace(std::optional<std::uint32_t> startTick)
{
    playCue("Audio-Start.wav");
    // The desk's own start shot is the cue: the start instant follows it by 200 ms. A start
    // contact's edge is the start itself; the cue and the wait stay, the instant is the edge's.
    // Nothing else of the desk runs meanwhile.
    platform_.ticks.sleep(200);
    TakeDeskFields();
    Model.start(startTick ? *startTick : platform_.ticks.tickCount(), PanelDate->text());

    bCFG->setEnabled(false);
    PanelDate->setToolTip(Model.desk().startTimeOfDay);
    cmd_Auf->setEnabled(false);
    cmd_Fertig->setEnabled(false);
    bStop->setEnabled(true);
    mStop->setEnabled(true);
    bStart->setEnabled(false);
    mStart->setEnabled(false);
    bFehlStart->setEnabled(true);
    mAllSet->setEnabled(false);
    CheckBox_all->setEnabled(false);
    ShowFinishListEntries();
    FrameMs = FrameInterval();
    DecimalPoint = QLocale().decimalPoint();

    for (int i = 1; i <= Model.lanes(); ++i) {
        TFrameLine *row = Line(i);
        if (Model.lane(i).running) {
            StopEntry(i)->setEnabled(true);
            SetEntry(i)->setEnabled(false);
            if (row->Led->Value())
                row->Led->setKind(lkRed);
            row->cbON->setEnabled(false);
            row->bKey->setEnabled(true);
        }
    }
    Clock->start(10);
}

int TFormMain::FrameInterval() const
{
    // Hundredths change faster than any eye reads them: about 25 pictures a second show a running
    // clock as smoothly as a television picture does, for less than half of what 60 cost the desk
    // (every picture is a wake-up and a repaint sent to the display). 39 ms and not 40: frames a
    // whole number of hundredths apart would only ever show even hundredths, these let every
    // hundredth appear in turn. A screen slower than that sets the pace; one that tells no refresh
    // rate (some X servers, a remote display) is taken for 60 Hz.
    const QScreen *shown = screen();
    const double hz = shown ? shown->refreshRate() : 0.0;
    const double rate = hz >= 1.0 && hz <= 1000.0 ? hz : 60.0;
    return std::max(ClockFrameMs, static_cast<int>(std::ceil(1000.0 / rate)));
}

void TFormMain::ClockTimer()
{
    const std::int32_t now = RaceTimeNow();
    // Two texts taken in turn: the labels share the one written last, so the other is written in
    // place, and a frame of the clock allocates nothing.
    QString &text = RunningTexts[RunningTextTurn];
    RunningTextTurn ^= 1;
    RunningTimeText(text, now, Model.settings().accuracy, DecimalPoint);
    // All lanes' changes go to the screen in one pass, unless the finish list lies over the lanes.
    const bool batched = !ListBoxStop->isVisible();
    RunningLabels.clear();
    for (int i = 1; i <= Model.lanes(); ++i) {
        TFrameLine *row = Line(i);
        // Only a lane the current race still runs shows a running time; a lane loaded by a heat
        // change after the last stop has time 0 too, but never ran.
        const meeting::DeskLane &lane = Model.lane(i);
        if (lane.laneTime != 0 || !lane.running)
            continue;
        row->LabelTime->showRunningTime(text, batched);
        RunningLabels.push_back(row->LabelTime);
    }
    if (batched)
        TTimeLabel::PaintRunningTimes(this, RunningLabels);
    // The time shown changes only at each step of the accuracy (10 ms for hundredths, 100 ms for
    // tenths, 1 s for whole seconds): the clock wakes up when the next step begins, but never
    // twice in one frame (FrameInterval). Frames keep their places from the start instant, so a
    // late wake-up does not push the next one back; every frame shows the true time.
    if (Clock->isActive()) {
        const int accuracy = Model.settings().accuracy;
        const int step = std::max(accuracy >= 2 ? 10 : accuracy == 1 ? 100 : 1000, FrameMs);
        const int into = ((now % step) + step) % step;
        Clock->start(step - into);
    }
}

void TFormMain::StopClick(int lane)
{
    StopLane(lane, std::nullopt);
}

void TFormMain::StopLane(int lane, const std::optional<platform::LineEdge> &edge)
{
    playCue("Audio-Stopp.wav");
    if (Model.settings().oneBarrier && !bStop->isEnabled()) {
        AssignFromFinishList(lane);
        return;
    }
    TFrameLine *row = Line(lane);
    const std::uint32_t tick = edge ? edge->tick : platform_.ticks.tickCount();
    const std::int64_t instant = edge ? edge->nanos : platform::monotonicNanos();
    Model.stopLane(lane, tick, instant);
    StopEntry(lane)->setEnabled(false);
    row->bKey->setEnabled(false);
    bFehlStart->setEnabled(false);

    if (Model.allStopped()) {
        // No lane runs any more: the clock would only repaint what it shows already.
        Clock->stop();
        bProtokoll->setEnabled(true);
        bStop->setEnabled(false);
        ListBoxStop->resize(ListBoxStop->width(), PanelLines->height());
        if (ListBoxStop->count() > 0)
            ListBoxStop->setCurrentRow(0);
        ListBoxStop->raise();
    }
}

void TFormMain::bStopClick()
{
    Clock->stop();
    bFehlStart->setEnabled(false);
    if (ListBoxStop->count() > 0)
        ListBoxStop->setCurrentRow(0);
    bProtokoll->setEnabled(true);
    bStop->setEnabled(false);
    Model.stopRace();
    for (int i = 1; i <= Model.lanes(); ++i)
        Line(i)->bKey->setEnabled(false);
    if (ListBoxStop->isVisible())
        ListBoxStop->setFocus();
}

void TFormMain::bFehlStartClick()
{
    playCue("Audio-Start-Fehl.wav");
    bFehlStart->hide();
    bFehlStart->setEnabled(false);
    bProtokoll->setEnabled(false);
    bReset->show();
    bResetClick();
}

void TFormMain::bResetClick()
{
    Clock->stop();
    TimerGesperrtLuchi->stop();

    bCFG->setEnabled(true);
    cmd_Auf->setEnabled(true);
    cmd_Fertig->setEnabled(false);
    bFehlStart->setEnabled(false);
    bStart->setEnabled(true);
    mStart->setEnabled(true);
    bReset->setEnabled(false);
    mReset->setEnabled(false);
    bReset->hide();
    bFehlStart->show();
    bStop->setEnabled(false);
    mStop->setEnabled(false);

    LabelBest->setText(RaceTimeText(0, Model.settings().accuracy));
    Model.reset();
    for (int i = 1; i <= Model.lanes(); ++i) {
        TFrameLine *row = Line(i);
        row->bKey->setEnabled(false);
        StopEntry(i)->setEnabled(false);
        SetEntry(i)->setEnabled(true);
        if (row->Led->Value())
            row->Led->setKind(lkRed);
        row->cbON->setEnabled(true);
    }
    // Rows beyond the lane count are out of view: none of them may keep an armed stop key from a
    // race run with more lanes, or a hidden lane would take a place.
    for (int i = Model.lanes() + 1; i <= LaneRows; ++i) {
        StopEntry(i)->setEnabled(false);
        Line(i)->bKey->setEnabled(false);
    }

    mAllSet->setEnabled(true);
    CheckBox_all->setEnabled(true);
    bStart->setEnabled(true);
    // A start list loaded during the race reaches the lanes now.
    if (Model.desk().heatLoadPending)
        seLaufChange();
}

void TFormMain::RecountPlaces()
{
    Model.recountPlaces();
}

void TFormMain::SetClick(int lane)
{
    QCheckBox *on = Line(lane)->cbON;
    on->setChecked(!on->isChecked());
}

void TFormMain::mAllSetClick()
{
    CheckBox_all->setChecked(!CheckBox_all->isChecked());
}

void TFormMain::CheckBox_allClick()
{
    const bool on = CheckBox_all->isChecked();
    for (int i = 1; i <= Model.lanes(); ++i)
        Line(i)->cbON->setChecked(on);
}

void TFormMain::cmd_AufClick()
{
    playCue("Audio-Auf-Platz.wav");
    cmd_Auf->setEnabled(false);
    cmd_Fertig->setEnabled(true);
}

void TFormMain::cmd_FertigClick()
{
    playCue("Audio-Fertig.wav");
    cmd_Fertig->setEnabled(false);
}

void TFormMain::bSoundClick()
{
    SoundOn = bSound->isChecked();
}

void TFormMain::Sound1Click()
{
    bSound->setChecked(!bSound->isChecked());
    SoundOn = bSound->isChecked();
}

void TFormMain::TimerDateTimer()
{
    // The system's long time format without the time zone, e.g. 14:05:33.
    static const QString format = TimeOfDayFormat(QLocale());
    PanelDate->setText(QLocale().toString(QTime::currentTime(), format));
}
