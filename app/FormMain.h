#pragma once
// The race desk: the main window with its lane rows, race clock, command keys, serial inputs and
// the hidden results table. Controls are public members named as in the window description, so
// that the other windows and the tests reach them by name.

#include "FrameLine.h"
#include "HeatOrigin.h"
#include "LineLamps.h"
#include "Meeting.h"
#include "Platform.h"
#include "Serial.h"

#include <QWidget>

#include <QHash>
#include <QList>
#include <QMap>
#include <QPointer>

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QAction;
class QKeySequence;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QMenuBar;
class QPushButton;
class QTimer;
class QToolButton;
class TCfgDialog;
class TComPort;
class TDateTimePicker;
class TFormInfo;
class THighResTimer;
class TLabel3D;
class TLbSpeedButton;
class TLed;
class TShape;
class TSortGrid;
class TSpinEdit;
class TSpinFloatEdit;
namespace interchange {
struct LifHeat;
}
namespace results {
struct ResultsDocument;
}
namespace platform {
class FileWriteQueue;
class JournalLock;
class JournalWriter;
}
namespace results {
struct MeetingJournal;
}

// What an open or save dialog of the window keeps between uses.
struct TFileDialog {
    QString Filter;
    int FilterIndex = 1;
    QString InitialDir;
    QString FileName;
    QString DefaultExt;

    platform::FileDialogRequest request() const
    {
        platform::FileDialogRequest r;
        r.filter = Filter;
        r.filterIndex = FilterIndex;
        r.initialDir = InitialDir;
        r.fileName = FileName;
        r.defaultExt = DefaultExt;
        return r;
    }
};

// The live results view in the browser (served while On, at Port; Bind empty: every network).
// PublishUrl: the publisher location of a fan-out for the stands (nginx with nchan), empty: none;
// TrustedProxies: addresses of reverse proxies in front of the desk's own server.
struct TLiveSettings {
    bool On = false;
    int Port = 8080;
    QString Bind;
    QString PublishUrl;
    QString TrustedProxies;
    TLiveSettings(bool on = false, int port = 8080, QString bind = {}, QString publishUrl = {}, QString trustedProxies = {})
        : On(on), Port(port), Bind(std::move(bind)), PublishUrl(std::move(publishUrl)),
          TrustedProxies(std::move(trustedProxies))
    {
    }
    bool operator==(const TLiveSettings &) const = default;
};

class TFormMain : public QWidget {
    Q_OBJECT
public:
    static constexpr int LaneRows = 12;
    static constexpr int MaxHeat = 100;
    static constexpr int RowHeight = TFrameLine::RowHeight;

    // programPath: the program file; its base name keys the settings and names the help file.
    explicit TFormMain(const platform::Platform &platform, const QString &programPath = QString());
    ~TFormMain() override;

    platform::Platform &Platform() { return platform_; }

    // ---- controls (window description) ----
    QWidget *Panel1;
    QWidget *PanelTop;
    QPushButton *bHilfe;
    QPushButton *bCFG;
    QPushButton *bInfo;
    QPushButton *bOpen;
    QPushButton *bSave;
    QLabel *PanelDate;
    QLabel *LabelBest;
    QLabel *lbl_Titel;
    QLineEdit *eTitle;
    QLabel *lbl_am;
    TDateTimePicker *DateTimePicker1;
    QLabel *lbl_Wind;
    TSpinFloatEdit *sfWind;
    QLabel *lbl_ms;
    QWidget *PanelLauf;
    QComboBox *cmb_Lauf;
    TSpinEdit *seLauf;
    QComboBox *cmb_Disziplin;
    QComboBox *cbKlassen;
    TLbSpeedButton *bProtokoll;
    QLabel *lbl_Platz;
    TShape *Shape0;

    QWidget *PanelLines;
    std::array<TFrameLine *, LaneRows + 1> Lines{}; // Lines[1] .. Lines[12]
    QListWidget *ListBoxStop;
    int ListBoxStopTag = 0; // places handed out from the finish list in the one-barrier mode

    // Between the lanes and the bottom panel: the level of every watched line (LineLamps, in the
    // order of WatchedLines) and the notes on the lines (LineNote: ports without signal, and a port
    // that came back; BarrierNote: barriers interrupted at the start or the call).
    QWidget *PanelLineLamps;
    std::array<TLineLamp *, kWatchedLines> LineLamps{};
    QLabel *LineNote;
    QLabel *BarrierNote;
    static constexpr int LineLampsHeight = 24;

    QWidget *PanelBottom;
    TShape *Shape10;
    QCheckBox *CheckBox_all;
    QLabel *lbl_Alle;
    QToolButton *bSound;
    QPushButton *cmd_Auf;
    QPushButton *cmd_Fertig;
    QLabel *RealtimeNote; // "Zeitnahme ohne Echtzeit-Vorrang"
    TLed *LedStart;
    TLbSpeedButton *bStart;
    TLbSpeedButton *bFehlStart;
    TLbSpeedButton *bReset;
    TLbSpeedButton *bStop;

    TSortGrid *SortGrid1;
    THighResTimer *HighResTimer1;

    QMenuBar *MainMenu1;
    QMenu *Control1;
    QMenu *StopKeys1;
    QMenu *StartKey1;
    QMenu *SetKeys1;
    QAction *Hilfe1;
    QAction *Config1;
    QAction *Info1;
    QAction *Sound1;
    QAction *Show1;
    QAction *False1;
    QAction *mStart;
    QAction *mStop;
    QAction *mReset;
    QAction *mEintragen;
    QAction *mStartList;
    QAction *mExport;
    QAction *mPrint; // Ctrl+P: the results lists in the print preview
    QAction *mAllSet;
    std::array<QAction *, LaneRows + 1> StopEntries{}; // "Stop 1" .. "Stop 12" (Stop11 .. Stop121)
    std::array<QAction *, LaneRows + 1> SetEntries{};  // "Set 1" .. "Set 12"

    QMenu *PopupMenuNA;
    QAction *N11;
    QAction *N21;
    QAction *N31;
    QAction *N41;
    int PopupMenuNATag = 0; // lane row on which the place-text menu was opened

    std::array<QPixmap, 1> ImageListLine;
    TComPort *ComPort1;
    TComPort *ComPort2;
    TComPort *ComPort3;
    TComPort *ComPort4;
    QTimer *Clock;
    QTimer *TimerDate;
    QTimer *TimerGesperrtLuchi;
    QTimer *TimerLineNote; // ends the note of a port that came back
    TFileDialog OpenDialog1;
    TFileDialog SaveDialog1;

    // The settings dialog and the information window, created after the main window.
    // Held weakly: the dialog may go before the window does (the ports closed at the end still
    // update the lamps).
    QPointer<TCfgDialog> CfgDialog;
    TFormInfo *FormInfo = nullptr;

    // ---- the meeting this window shows and commands ----
    meeting::Meeting Model;
    // Lane i - 1's bit set while the race's clock counts for lane i (read from the meeting).
    std::uint32_t RunMask() const;

    // ---- state of the window ----
    bool SoundOn = true;
    std::uint32_t AvailablePorts = 0;
    int MonitorNum = 0;
    std::uint32_t LastModemStatus = 0x55555555;
    QString ProgramName;
    QString ProgramPath;
    QString HelpFile;   // the program's path with ".chm"
    QString ManualFile; // the desk's HTML manual (ManualFileFor)
    QString TextFileName = QStringLiteral("Textdatei");
    QString CsvFileName = QStringLiteral("CSV");
    bool SpreadsheetPresent = false;
    TLiveSettings LiveSettings;       // in use
    TLiveSettings LiveSettingsStored; // written at shut-down (a command-line choice is not)

    QAction *StopEntry(int lane) const { return StopEntries.at(static_cast<std::size_t>(lane)); }
    QAction *SetEntry(int lane) const { return SetEntries.at(static_cast<std::size_t>(lane)); }
    TFrameLine *Line(int lane) const { return Lines.at(static_cast<std::size_t>(lane)); }
    int ClientHeightFor(int lanes) const;

    // ---- start-up and shut-down ----
    void FormCreate();
    void FormDestroy();
    bool FormCloseQuery();
    void LoadListFiles();
    // The files the desk reads by name from its data folders (platform::DataFolders).
    static QStringList ListFiles();
    static QStringList CueFiles();
    void BuildAvailablePortMask();
    void OpenConfiguredPorts();

    // ---- commands ----
    void bHelpClick();
    void bInfoClick();
    void bStart2Click();
    // The start command. startTick: the start instant when it is known already (the edge of the
    // start contact); without it the instant is taken after the 200 ms wait (the desk's own shot).
    void StartRace(std::optional<std::uint32_t> startTick = std::nullopt);
    void StopClick(int lane);
    // The stop command for lane n at the time of an edge (a line stop), or now (a key).
    void StopLane(int lane, const std::optional<platform::LineEdge> &edge);
    void bStopClick();
    void bFehlStartClick();
    void bResetClick();
    void SetClick(int lane);
    void mAllSetClick();
    void CheckBox_allClick();
    void cmd_AufClick();
    void cmd_FertigClick();
    void bSoundClick();
    void Sound1Click();
    void ClockTimer();
    // The running clock shows a frame every 39 ms at most, about as many a second as a television
    // picture has, and never more than the screen the window is on shows.
    static constexpr int ClockFrameMs = 39;
    // The running clock repaints at most once in this many milliseconds (FrameInterval, taken at
    // each start).
    int FrameMs = ClockFrameMs;
    int FrameInterval() const;
    std::array<QString, 2> RunningTexts; // the running time's text, written in turn (ClockTimer)
    int RunningTextTurn = 0;
    std::vector<TTimeLabel *> RunningLabels; // the labels a tick of the clock wrote to, kept for its capacity
    QString DecimalPoint = QStringLiteral(","); // the locale's, taken at each start
    void TimerDateTimer();
    void RecountPlaces();
    void Show1Click();
    void N11Click(QAction *entry);
    void TimerGesperrtLuchiTimer();
    void AssignFromFinishList(int lane);
    // The widgets of lane row n, of the finish list, of the heat fields as the meeting has them.
    void ShowLane(int lane);
    void ShowFinishListEntries();
    void ShowDesk();
    // Reads the heat fields of the window into the meeting (the widgets the operator types in).
    void TakeDeskFields();
    void cmd_EinstellungenClick();
    void bOpenClick();
    void bSaveClick();
    void ImportTextList(const QString &fileName);
    void ImportExcelList(const QString &fileName); // throws with the error's text
    // A meet-management program's start list (.evt) with its list of people (.ppl) beside it;
    // fileName may name either.
    void ImportEvtList(const QString &fileName);
    void ExportTextFile(const QString &fileName); // throws with the file error's text
    void ExportCsvFile(const QString &fileName);
    void ExportExcelFile(const QString &fileName); // throws with the error's text
    void ExportPdfFile(const QString &fileName);   // throws with the file error's text
    bool DrawingLists = false; // while the PDF is drawn: export and print wait for it
    // The print preview of the results lists: the current heat, all heats or the rankings.
    void PrintClick();
    // The results lists of the entered heats, by heat number, and their rankings across heats.
    results::ResultsDocument ResultsOfMeeting() const;
    // The grid shows the meeting's table: all of it, or one heat's block after its entry.
    void ShowTable();
    void ShowHeatInTable(int heat);
    // The heat "Aktueller Lauf" shows: the heat on the desk once it is entered, else the last entered.
    int PrintHeat() const;
    // Says that no heat is entered yet, so there is no results list.
    void ShowNoResults();
    // A window of the desk with this property set (and any window opened from it) passes the lane
    // stop keys and STOPP on to the desk: a race goes on while the print preview is open.
    static constexpr char RaceKeysProperty[] = "zielkronRaceKeys";
    void bProtokollClick();
    void seLaufChange();
    // From the start until the reset a race is on the desk: its lanes' times and places are the
    // race's, and a start list loaded meanwhile fills the table only.
    bool RaceOnDesk() const;
    // Loads the current heat onto the lanes, or while a race is on the desk at its reset.
    void LoadHeatUnlessRacing();
    // After a start list filled the table: a new meeting of heats none of which is entered yet,
    // whose origins are those given; it goes to the journal and its current heat onto the lanes.
    void BeginStartListMeeting(QMap<int, meeting::HeatOrigin> origins = {});
    // The meeting journal: the whole table written to disk after each entry and each import.
    void WriteJournal();
    bool FlushJournal();            // waits until the journal is on disk; false when it failed
    QString JournalFile() const;
    // At start-up: offers to restore the meeting of the journal, or says that it is damaged.
    void OfferJournalRestore();
    void RestoreJournal(const results::MeetingJournal &journal);
    // Before a start list replaces a table with entered heats, the journal is copied aside. Where
    // that fails, or the journal itself, the operator is asked first; false: the table stays.
    bool KeepJournalBeforeImport();
    // At closing: true when the journal is on disk, or the operator closes without it; otherwise
    // the export is offered and the desk stays.
    bool JournalSafeToClose();
    // The journal belongs to one desk at a time. A desk started while another runs on the same
    // journal says so and claims nothing: it never reads, moves or writes the journal.
    bool ClaimJournal();
    bool OwnsJournal() const;
    // Result files for meet-management programs (.lif), one a heat.
    QString ResultFolder;                        // "Ergebnisordner": each entered heat goes there; empty: off
    QHash<QString, QString> LifPlaceTexts;       // place texts of the desk and of the result files
    // After the entry of a heat: its result file into the results folder, on a thread of its own.
    void WriteResultFile(int heat);
    // Every entered heat into a folder, one result file each, written beside the desk; the outcome
    // is told when the last file is written.
    void ExportLifFiles(const QString &folder);
    // The program's standard error box with the text of an error.
    void ShowError(const QString &text);
    // The heat number in use (a heat number below 1 counts as 1) and a heat's header row.
    int CurrentHeat() const { return Model.currentHeat(); }
    static int HeatHeaderRow(int heat, int lanes) { return meeting::Record::headerRow(heat, lanes); }
    // Folder and start page of the manual: beside the program where there is one (a build),
    // otherwise in the installation's data folder.
    static constexpr char ManualFolder[] = "zielkron-hilfe";
    static constexpr char ManualPage[] = "index.html";
    static QString ManualFileFor(const QString &programPath, const platform::DataFolders &data);

    // ---- serial inputs ----
    void ComPortOpen(TComPort *port);
    void ComPortClose(TComPort *port);
    // The port number (1..4) of a port component, 0 for none of the four.
    int PortNumber(const TComPort *port) const;
    // Real-time priority of each open port's stamping thread ([1]..[4]): asked for when the port
    // opens, empty while closed or not yet answered. The note shows while an open port has none.
    std::array<std::optional<platform::RealtimeGrant>, 5> PortRealtime{};
    void UpdateRealtimeNote();
    // ---- supervision of the lines ----
    // Per port ([1]..[4]): what its device is known by across a replug, and whether it is lost
    // (its device went away while it was open; it is reopened when the device comes back).
    struct PortSupervision {
        QString identity;
        bool lost = false;
        QString unopened; // the node its device came back under but would not open at
    };
    std::array<PortSupervision, 5> Supervised{};
    // The level of each watched line (active or not) as its last edge or the read at its port's
    // opening left it; none while its port is closed.
    std::array<std::optional<bool>, kWatchedLines> LineLevels{};
    // The level of each watched line when its port opened: a lane barrier counts as interrupted at
    // the start only where it changed to interrupted since (a line that rests at that level may be
    // wired the other way round, and its runner's first edge must stop the lane).
    std::array<std::optional<bool>, kWatchedLines> OpenLevels{};
    bool InterruptedSinceOpening(int index, const std::optional<bool> &level) const;
    // The lamp's state of a watched line, and the lamp (and the settings dialog's) showing it.
    TLineLamp::State LineState(int index) const;
    void ShowLineLamp(int index);
    void ShowLineLamps();
    TComPort *PortOf(int n) const; // ComPort1 .. ComPort4
    // "Start, Ziel, Bahn 1" / "Bahn 2, 3, 4": what port n carries.
    static QString PortLinesText(int n);
    // A port opened (or reopened) and closed: levels read fresh, lamps, notes, the race log.
    void PortOpened(TComPort *port);
    void PortClosed(TComPort *port);
    // A port's device went away: lamp, note, cue, the race log.
    void ComPortLost(TComPort *port, int error);
    // A device came or went (the platform's monitor): a lost port is reopened, an open port whose
    // device vanished is lost.
    void DeviceChanged(const platform::DeviceChange &change);
    // Opens lost port n again at node (empty: by its own name); a device that has only just come
    // (still being set up, or probed by another program) is tried again a few times.
    void TryReopen(int n, const QString &node, int triesLeft);
    void UpdateLineNote();
    void LayOutLineNotes();
    QStringList ReturnedPorts; // ports that came back, while their note shows
    // Barriers interrupted now that the race would time: the finish barrier (one-barrier mode) and
    // the barriers of the lanes taking part, as "Ziel", "Bahn 3".
    QStringList BlockedBarriers() const;
    // The warning of interrupted barriers (at the start and at the call), kept up to date by the
    // edges until they are clear.
    void WarnBlockedBarriers();
    void UpdateBarrierNote();
    QStringList WarnedBarriers;
    // The race's state changed: at the start, lanes whose barriers are interrupted are marked (their
    // clearing edge stops nothing) and warned about; back at ready the warning goes.
    void RaceStateChanged();
    meeting::RaceState LastRaceState = meeting::RaceState::Ready;
    // The levels at the start instant of lanes whose edges overtook the start contact's (a contact
    // start), for the marking at the start.
    std::map<int, bool> StartLevels;
    // Lanes of a port opened again during the race whose barriers are interrupted are marked.
    void MarkBlockedLanes(int port);
    // "Eintragen" of a heat whose race had its signal interrupted asks first (No is the default).
    bool ConfirmInterruptedEntry();

    // Milliseconds since the start instant, read from the tick counter now.
    std::int32_t RaceTimeNow();
    // Every edge of every port's lines, with the time the monitor saw it.
    void ComPortEdge(TComPort *port, const platform::LineEdge &edge);
    void ComPortStart(const platform::LineEdge &edge); // DSR of port 1: the start contact
    void ComPortStop(const platform::LineEdge &edge);  // CTS of port 1: the finish light barrier
    void ComPortLine(int lane, const platform::LineEdge &edge); // a lane's own light barrier
    // The lock-out of the start contact and the finish barrier: 10 ms of edge time from an
    // accepted edge, ended early by the reset.
    void StartLockOut(std::uint32_t tick);
    void ListBoxStopKeyDown(int key);
    // Appends a finish time (milliseconds since the start) to the finish list and selects it.
    void AddFinishTime(std::int32_t time);
    // A place label holding a place number ("1", "2" ...), as opposed to "Aus" or a place text.
    static bool IsPlaceNumber(const QString &caption) { return meeting::isPlaceNumber(caption); }
    void ShowFinishList();

    // Shortcut values as the desk stores them: virtual key + 0x2000 Shift, 0x4000 Ctrl, 0x8000 Alt.
    static int ShortCutValue(const QKeySequence &key);
    static QKeySequence ShortCutSequence(int value);

signals:
    // The settings dialog changed LiveSettings.
    void LiveSettingsChanged();

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    // Keys of the command table act wherever the focus is in the window; a key whose entry is
    // disabled does nothing and never reaches the focused control.
    bool eventFilter(QObject *watched, QEvent *event) override;

    // Sets the client height for the lane count and keeps the width.
    void sizeWindowHeight();

private:
    QAction *commandForKey(const QKeyEvent *event) const;
    // A lane stop key or STOPP pressed in a window that passes race keys on: the command runs.
    bool raceKeyInWindow(QWidget *window, const QKeyEvent *event);
    void buildControls();
    void buildLineLamps();
    void buildMenus();
    void connectHandlers();
    void layoutPanels();
    void sizeWindow();
    void readSettings();
    void readLiveSettings();
    void readResultFolder();
    platform::FileWriteQueue &ResultFiles(); // made at its first use
    void playCue(const char *fileName);
    QPixmap laneNumberPicture(int lane) const;
    void setPortLamps(TComPort *port, bool on);

    platform::Platform platform_;
    std::unique_ptr<platform::JournalLock> journalLock_;
    std::unique_ptr<platform::JournalWriter> journal_;
    std::unique_ptr<platform::FileWriteQueue> resultFiles_;
    bool centred_ = false;
    bool destroyed_ = false;
};
