#pragma once
// The services of the operating system that the desk relies on. Every window and component
// reaches them only through these interfaces; the real implementations live beside them, the
// test fakes in tests/support.

#include "AtomicFile.h"
#include "DataFolders.h"
#include "Serial.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QWidget;
class QDialog;

namespace platform {

class SpreadsheetAutomation; // the workbook engine (workbook/Workbook.h)

// Millisecond tick counter (32 bits, wraps after about 49.7 days) and a blocking sleep.
class TickSource {
public:
    virtual ~TickSource() = default;
    virtual std::uint32_t tickCount() = 0;
    virtual void sleep(std::uint32_t ms) = 0;
    // The tick of a CLOCK_MONOTONIC instant (nanoseconds, not in the future): what the counter
    // read at that instant. A counter that does not run on that clock can only tell its reading
    // now.
    virtual std::uint32_t tickAt(std::int64_t monotonicNanos)
    {
        static_cast<void>(monotonicNanos);
        return tickCount();
    }
};

// Plays WAV cues by file name, found in the desk's data folders, asynchronously. A new cue replaces
// the one playing; a missing file plays nothing and reports nothing.
class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    virtual void play(const QString &fileName) = 0;
};

// One opened settings key for reading. Integer reads are strict: a missing value or one that
// is not of integer type gives no value.
class SettingsReader {
public:
    virtual ~SettingsReader() = default;
    virtual std::optional<std::int32_t> readInteger(const QString &name) = 0;
    virtual std::optional<QString> readString(const QString &name) = 0;
};

// One settings key opened (and created when missing) for writing. commit() stores everything
// written since the key was opened; when it fails nothing of it is kept.
class SettingsWriter {
public:
    virtual ~SettingsWriter() = default;
    virtual void writeInteger(const QString &name, std::int32_t value) = 0;
    virtual void writeString(const QString &name, const QString &value) = 0;
    virtual bool commit() = 0;
};

// The per-user settings, one key per program name.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // nullptr when the key does not exist; reading never creates it.
    virtual std::unique_ptr<SettingsReader> openForRead(const QString &program) = 0;
    // nullptr when the key cannot be opened or created for writing.
    virtual std::unique_ptr<SettingsWriter> openForWrite(const QString &program) = 0;
    // The file of the program's meeting journal, in the folder of its settings. The folder is
    // created when missing; the file itself may not exist.
    virtual QString journalFile(const QString &program) = 0;
};

// Message box buttons and answers, numbered as the desk has always numbered them.
enum class MessageIcon { None, Information, Warning, Error, Question };
enum MessageButton : int { MbOk = 1, MbCancel = 2, MbYes = 6, MbNo = 7 };
// YesNoDefaultNo: Return answers No, for a question whose Yes risks results.
enum class MessageButtons { Ok, OkCancel, YesNo, YesNoDefaultNo };

// A file dialog's request and answer. The filter uses the desk's own notation:
// "Description (*.txt)|*.txt|Other (*.csv)|*.csv"; filterIndex counts from 1.
struct FileDialogRequest {
    QString title;
    QString filter;
    int filterIndex = 1;
    QString initialDir;
    QString fileName;
    QString defaultExt;
};

// The extensions of one entry (counted from 1) of a desk filter, lower case and in the order given:
// "... (*.xlsx *.xls)|*.xlsx;*.xls" gives "xlsx", "xls". Wildcards such as "*.*" give none.
QStringList filterExtensions(const QString &filter, int index);
// A file name typed without an extension gets one of the picked entry: the first, or with
// mustExist the first under which the file exists (the first when there is none). A name that has
// an extension, or an entry without one, leaves the name as it is.
QString withPickedExtension(const QString &fileName, const QString &filter, int index, bool mustExist);

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // Shows a modal message box; returns the MessageButton that closed it (Esc answers No or Cancel).
    virtual int messageBox(QWidget *parent, const QString &text, const QString &caption,
                           MessageButtons buttons, MessageIcon icon) = 0;
    // Open and save dialogs. On true, request.fileName holds the full path of the chosen file and
    // request.filterIndex the chosen type. On false (cancelled) the request is unchanged.
    virtual bool openFile(QWidget *parent, FileDialogRequest &request) = 0;
    virtual bool saveFile(QWidget *parent, FileDialogRequest &request) = 0;
    // A folder chooser that opens at folder. On true, folder holds the full path of the chosen
    // folder; on false (cancelled) it is unchanged.
    virtual bool chooseFolder(QWidget *parent, const QString &title, QString &folder) = 0;
    // Runs a dialog modally and returns its result code.
    virtual int execModal(QDialog *dialog) = 0;
};

// Help: a compiled help file through the system's help service, or the desk's own HTML manual in
// a help window of the desk. A missing file is ignored.
class HelpViewer {
public:
    virtual ~HelpViewer() = default;
    // Opens a help file at its contents page with the system's help service.
    virtual void showContents(const QString &helpFile) = 0;
    // Shows the HTML manual at an anchor (a topic of the manual; its contents page included).
    virtual void showManual(QWidget *parent, const QString &manualFile, const QString &anchor) = 0;
};

// The system's names of the file types offered in the open and save dialogs.
class FileTypeNames {
public:
    virtual ~FileTypeNames() = default;
    virtual std::optional<QString> textFiles() = 0;
    virtual std::optional<QString> csvFiles() = 0;
};

// Real-time scheduling for the threads that stamp line edges: on a busy machine a thread of normal
// priority waits in the run queue before it reads the clock, and every stamp it takes carries that
// wait. How the right was obtained, or that it was not.
enum class RealtimeGrant { Direct, RealtimeKit, Denied };

class RealtimeScheduler {
public:
    virtual ~RealtimeScheduler() = default;
    // Asks for real-time priority for one thread of this process (its kernel thread id). answer runs
    // on the calling thread, at once or later from its event loop, with the outcome; it is never
    // called after the scheduler is gone.
    virtual void makeRealtime(long threadId, std::function<void(RealtimeGrant)> answer) = 0;
};

// Serial devices coming and going (a USB adapter pulled out and put back), as the system's device
// manager announces them, and what stays the same of a device across a replug.
struct DeviceChange {
    enum Kind { Added, Removed } kind = Added;
    QString node;      // the device as it is opened: "/dev/ttyUSB1", a virtual line's socket
    QStringList names; // every name it goes by: the node, its /dev/serial/by-id and by-path links
};

class DeviceMonitor {
public:
    virtual ~DeviceMonitor() = default;
    // Tells every change to handler on the thread that set it (its event loop), until another
    // handler (or none) is set.
    virtual void setHandler(std::function<void(const DeviceChange &)> handler) = 0;
    // What stays the same of the device opened as node when it is unplugged and comes back under
    // another number: its /dev/serial/by-id name where it has one (a link the operator named the
    // port by, such as a by-path name, where that is what node points at); otherwise the node
    // itself (an on-board port, a virtual line). One of the names a DeviceChange of that device
    // carries.
    virtual QString identity(const QString &node) = 0;

    // A monitor that tells nothing, for a desk without one: every device is its node.
    static DeviceMonitor &none();
};

// The printers the system knows (its CUPS queues). The print preview and Qt's print dialog work
// with or without one; the desk only tells the operator when there is none.
class Printers {
public:
    virtual ~Printers() = default;
    virtual QStringList printerNames() = 0;

    // The system's printers.
    static Printers &system();
};

// The bundle the main window receives.
struct Platform {
    TickSource &ticks;
    SoundPlayer &sound;
    SettingsStore &settings;
    Dialogs &dialogs;
    HelpViewer &help;
    FileTypeNames &fileTypes;
    SerialDevices &serial;
    SpreadsheetAutomation &spreadsheet; // "Excel.Application": the workbook engine
    RealtimeScheduler &realtime;
    FileCalls &files = FileCalls::system(); // the journal's and the exports' file writes
    Printers &printers = Printers::system();
    const DataFolders &data = DataFolders::currentFolderOnly(); // where the lists and cues are read from
    DeviceMonitor &deviceMonitor = DeviceMonitor::none(); // serial devices coming and going
};

} // namespace platform
