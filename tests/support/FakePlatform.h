#pragma once
// Fakes of the platform services: a settable tick counter, a cue recorder, settings in memory,
// scripted dialog answers, a help recorder and data folders of a test's own. Tests never reach the
// real system through them.

#include "Platform.h"
#include "Workbook.h"
#include "SerialLinux.h"
#include "VirtualLines.h"

#include <QTemporaryDir>

#include <QMap>
#include <QVariant>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace fake {

// Read by the ports' monitor threads too: atomic.
class Ticks final : public platform::TickSource {
public:
    std::atomic<std::uint32_t> now{1000};
    std::vector<std::uint32_t> sleeps;
    std::uint32_t tickCount() override { return now; }
    void sleep(std::uint32_t ms) override
    {
        sleeps.push_back(ms);
        now += ms;
    }
};

class Sound final : public platform::SoundPlayer {
public:
    QStringList played;
    void play(const QString &fileName) override { played << fileName; }
};

// Values of one key: an int for an integer value, a QString for a string value.
using Key = QMap<QString, QVariant>;

class Settings final : public platform::SettingsStore {
public:
    QMap<QString, Key> keys; // program name -> values
    bool writable = true;
    std::unique_ptr<platform::SettingsReader> openForRead(const QString &program) override;
    std::unique_ptr<platform::SettingsWriter> openForWrite(const QString &program) override;
    QStringList writeOrder; // names in the order of the last write
    QTemporaryDir folder;   // holds the journal
    QString journalFile(const QString &program) override { return folder.filePath(program + ".journal"); }
};

struct MessageCall {
    QString text;
    QString caption;
    platform::MessageButtons buttons;
    platform::MessageIcon icon;
};

class Dialogs final : public platform::Dialogs {
public:
    std::deque<int> answers;                // message box answers; empty: the default button (Yes, Ok, No)
    QList<MessageCall> messages;
    std::deque<std::function<bool(platform::FileDialogRequest &)>> fileAnswers; // empty: cancel
    QList<platform::FileDialogRequest> fileRequests;
    std::deque<std::function<bool(QString &folder)>> folderAnswers; // empty: cancel
    QStringList folderRequests; // the folder each chooser opened at
    std::deque<std::function<int(QDialog *)>> modalAnswers; // empty: reject (0)
    QList<QDialog *> modals;

    int messageBox(QWidget *, const QString &text, const QString &caption, platform::MessageButtons buttons,
                   platform::MessageIcon icon) override;
    bool openFile(QWidget *, platform::FileDialogRequest &request) override;
    bool saveFile(QWidget *, platform::FileDialogRequest &request) override;
    bool chooseFolder(QWidget *, const QString &title, QString &folder) override;
    int execModal(QDialog *dialog) override;
};

class Help final : public platform::HelpViewer {
public:
    QStringList shown;   // help files opened with the help service
    QStringList manuals; // manuals shown in the desk's help window, as "file#anchor"
    void showContents(const QString &helpFile) override { shown << helpFile; }
    void showManual(QWidget *, const QString &manualFile, const QString &anchor) override
    {
        manuals << manualFile + QLatin1Char('#') + anchor;
    }
};

class FileTypes final : public platform::FileTypeNames {
public:
    std::optional<QString> text;
    std::optional<QString> csv;
    std::optional<QString> textFiles() override { return text; }
    std::optional<QString> csvFiles() override { return csv; }
};

// Serial devices of a temporary devices folder without any default device: only the virtual
// lines a test serves there exist, never a real tty.
struct SerialDevices {
    QTemporaryDir folder;
    platform::LinuxSerialDevices devices{folder.path(), platform::DeviceTable{}};
    // The socket path of COMn, for a VirtualLineServer.
    std::string socketFor(int port) const
    {
        return folder.filePath(QStringLiteral("com%1").arg(port)).toStdString();
    }
};

// A serial device whose reports the test hands in, one wait each; a wait without one sleeps in
// steps of 0.1 ms until a report or the stop comes. Its waits neither allocate nor lock, like the
// real devices'.
class ScriptedSerialDevice final : public platform::SerialDevice {
public:
    static constexpr std::size_t kMaxReports = 4096;
    ScriptedSerialDevice() : script_(std::make_unique<Scripted[]>(kMaxReports)) {}
    // Queues a report (from the test's thread); edges beyond a report's room are left out. While
    // kMaxReports wait, it waits for the monitor to take one.
    void report(unsigned received, const std::vector<platform::LineEdge> &edges = {});
    // The device fails with error once the reports queued so far are taken: as an adapter pulled out.
    void fail(int error);
    // Waits begun: once n + 1 have begun, the monitor has taken the first n reports in and handed
    // them over.
    unsigned waitsBegun() const { return waits_.load(); }

    Wait waitEvents(unsigned mask, unsigned &received, platform::LineEdges &edges) override;
    void stop() override { stopped_ = true; }
    int failure() const override { return failure_.load(); }
    std::optional<unsigned> modemStatus() override { return 0u; }
    int inQueue() override { return 0; }
    void purge() override {}

private:
    struct Scripted {
        unsigned received = 0;
        platform::LineEdges edges;
    };
    std::unique_ptr<Scripted[]> script_;
    std::atomic<std::size_t> queued_{0};
    std::atomic<std::size_t> taken_{0};
    std::atomic<unsigned> waits_{0};
    std::atomic<bool> stopped_{false};
    std::atomic<int> failure_{0};
    std::atomic<std::size_t> failAfter_{0};
};

// The spreadsheet application: the real workbook engine with its reader program (tests give it
// files in temporary folders), with a log of the member calls and a switch that makes the class
// unregistered.
class Spreadsheet final : public platform::SpreadsheetAutomation {
public:
    // Workbooks are read by the reader program of this build, as in the desk.
    Spreadsheet() { engine.reader.program = QStringLiteral(ZK_WORKBOOK_READER); }
    bool registered = true;
    QStringList calls; // "Create", then the member names the engine logs
    platform::WorkbookEngine engine;
    bool classRegistered(const QString &progId) override { return registered && engine.classRegistered(progId); }
    std::unique_ptr<platform::SpreadsheetApplication> createObject(const QString &progId) override
    {
        calls << QStringLiteral("Create");
        if (!registered)
            throw platform::WorkbookError(QStringLiteral("Ungültige Klassenzeichenfolge"));
        engine.callLog = &calls;
        return engine.createObject(progId);
    }
};

// The file calls of the journal and the exports, made on the real files of a test's temporary
// folders and recorded as "call path" ("rename" as "rename from to"; a call on a descriptor names
// the path it was opened with). A test can make calls fail, or "crash" the writer: from the crash
// on nothing reaches the files any more (a write cut by it gets half its bytes out first).
class Files final : public platform::FileCalls {
public:
    // Asked before each call with its record: an errno value makes the call fail with it.
    std::function<int(const QString &call)> failure;
    // Asked before each call: true crashes there.
    std::function<bool(const QString &call)> crash;
    QStringList calls() const;

    int open(const char *path, int flags, mode_t mode) override;
    ssize_t write(int fd, const void *data, size_t size) override;
    int stat(const char *path, struct ::stat *st) override;
    int fstat(int fd, struct ::stat *st) override;
    int fchmod(int fd, mode_t mode) override;
    int fsync(int fd) override;
    int close(int fd) override;
    int rename(const char *from, const char *to) override;
    int unlink(const char *path) override;

private:
    // 0: go on with the call; otherwise the errno it fails with (EIO after a crash).
    int before(const QString &call, bool *crashing = nullptr);
    QString pathOf(int fd) const;

    mutable std::mutex mutex_;
    QStringList calls_;
    QMap<int, QString> paths_;
    bool crashed_ = false;
};

// One of each fake, bundled.
// Real-time requests: the thread ids asked for, answered at once with grant (or held back while
// holdAnswers, to be given with answerHeld()).
class Realtime final : public platform::RealtimeScheduler {
public:
    platform::RealtimeGrant grant = platform::RealtimeGrant::Direct;
    std::vector<long> asked;
    bool holdAnswers = false;
    std::vector<std::function<void(platform::RealtimeGrant)>> held;
    void makeRealtime(long threadId, std::function<void(platform::RealtimeGrant)> answer) override
    {
        asked.push_back(threadId);
        if (holdAnswers)
            held.push_back(std::move(answer));
        else
            answer(grant);
    }
    void answerHeld(platform::RealtimeGrant g)
    {
        auto pending = std::move(held);
        held.clear();
        for (auto &a : pending)
            a(g);
    }
};

// The printers of a test: none unless the test names some.
class Printers final : public platform::Printers {
public:
    QStringList names;
    QStringList printerNames() override { return names; }
};

// Serial devices coming and going, as the test announces them. A node's identity is the one the
// test gave it, else the node itself.
class DeviceMonitor final : public platform::DeviceMonitor {
public:
    QMap<QString, QString> identities;
    std::function<void(const platform::DeviceChange &)> handler;
    void setHandler(std::function<void(const platform::DeviceChange &)> h) override { handler = std::move(h); }
    QString identity(const QString &node) override { return identities.value(node, node); }
    // A device came (names: all it goes by; none given: its node and its identity) or went.
    void add(const QString &node, QStringList names = {}) { tell(platform::DeviceChange::Added, node, std::move(names)); }
    void remove(const QString &node, QStringList names = {})
    {
        tell(platform::DeviceChange::Removed, node, std::move(names));
    }

private:
    void tell(platform::DeviceChange::Kind kind, const QString &node, QStringList names)
    {
        if (names.isEmpty())
            names = QStringList{node, identity(node)};
        if (handler)
            handler({kind, node, names});
    }
};

// The data folders: the current folder (a test's working folder), then an operator's folder and an
// installation's folder of the test's own, both empty at first.
struct DataFolders {
    QTemporaryDir user;
    QTemporaryDir installed;
    platform::DataFolders folders{QStringLiteral("."), user.path(), installed.path()};
};

struct Platform {
    Ticks ticks;
    Sound sound;
    Settings settings;
    Dialogs dialogs;
    Help help;
    FileTypes fileTypes;
    SerialDevices serial;
    Spreadsheet spreadsheet;
    Realtime realtime;
    DataFolders data;
    Files files;
    Printers printers;
    DeviceMonitor monitor;
    platform::Platform bundle()
    {
        return {ticks, sound, settings, dialogs, help, fileTypes, serial.devices, spreadsheet, realtime, files, printers,
                data.folders, monitor};
    }
    // A virtual line pulled out and put back as a USB adapter is: its socket goes (and the monitor
    // says so), then a new one comes under the same name (and the monitor says so).
    void unplug(platform::VirtualLineServer &line)
    {
        line.unplug();
        monitor.remove(QString::fromStdString(line.path()));
    }
    bool replug(platform::VirtualLineServer &line)
    {
        if (!line.replug())
            return false;
        monitor.add(QString::fromStdString(line.path()));
        return true;
    }
};

} // namespace fake
