#pragma once
// The real implementations of the platform services, used by the program itself.

#include "DeviceMonitorLinux.h"
#include "Platform.h"
#include "Realtime.h"
#include "SerialLinux.h"

#include <map>
#include <memory>

class QFileDialog;
class QMessageBox;
class QSoundEffect;

namespace platform {

// CLOCK_MONOTONIC in milliseconds, truncated to 32 bits.
class MonotonicTicks final : public TickSource {
public:
    std::uint32_t tickCount() override;
    void sleep(std::uint32_t ms) override;
    // The counter runs on CLOCK_MONOTONIC: an instant's own millisecond, never the one after.
    std::uint32_t tickAt(std::int64_t monotonicNanos) override
    {
        return static_cast<std::uint32_t>(static_cast<std::uint64_t>(monotonicNanos) / 1000000u);
    }
};

// One preloaded QSoundEffect per cue file found in the data folders. A file that appears later is
// loaded on its first play.
class CueSoundPlayer final : public SoundPlayer {
public:
    CueSoundPlayer(const QStringList &cueFiles, const DataFolders &folders);
    ~CueSoundPlayer() override;
    void play(const QString &fileName) override;

private:
    QSoundEffect *effectFor(const QString &fileName);
    const DataFolders &folders_;
    std::map<QString, std::unique_ptr<QSoundEffect>> effects_;
    QSoundEffect *playing_ = nullptr;
};

// INI files under "<folder>/<organisation>/<program>.ini". With an empty folder the per-user
// configuration folder of the system is used (QSettings' user scope).
class IniSettingsStore final : public SettingsStore {
public:
    explicit IniSettingsStore(QString organisation, QString folder = {});
    std::unique_ptr<SettingsReader> openForRead(const QString &program) override;
    std::unique_ptr<SettingsWriter> openForWrite(const QString &program) override;
    QString journalFile(const QString &program) override;
    QString fileNameFor(const QString &program) const;

private:
    QString organisation_;
    QString folder_;
};

class QtDialogs final : public Dialogs {
public:
    int messageBox(QWidget *parent, const QString &text, const QString &caption,
                   MessageButtons buttons, MessageIcon icon) override;
    bool openFile(QWidget *parent, FileDialogRequest &request) override;
    bool saveFile(QWidget *parent, FileDialogRequest &request) override;
    bool chooseFolder(QWidget *parent, const QString &title, QString &folder) override;
    int execModal(QDialog *dialog) override;
};

// Help files opened with the desktop's handler. The desk installs its own help window in place of
// this viewer (useHelpViewer); this one opens a manual in the web browser.
class DesktopHelpViewer final : public HelpViewer {
public:
    void showContents(const QString &helpFile) override;
    void showManual(QWidget *parent, const QString &manualFile, const QString &anchor) override;
};

class MimeFileTypeNames final : public FileTypeNames {
public:
    std::optional<QString> textFiles() override;
    std::optional<QString> csvFiles() override;
};

// The message box of a request, made but not shown: caption, text, icon and buttons; Esc answers
// No or Cancel.
std::unique_ptr<QMessageBox> makeMessageBox(QWidget *parent, const QString &text, const QString &caption,
                                            MessageButtons buttons, MessageIcon icon);

// Converts the desk's filter notation "A (*.a)|*.a|B (*.b)|*.b" into Qt name filters.
QStringList nameFiltersFromDeskFilter(const QString &filter);

// Sets up an open or save dialog from a request: types, picked type, start folder and name, and
// the extension a typed name without one receives (that of the picked type, as it changes). It is
// always Qt's own dialog, never the desktop's, so that it speaks German like the desk.
void configureFileDialog(QFileDialog &dialog, const FileDialogRequest &request, bool save);
// The folder chooser (the results folder): Qt's own dialog, folders only.
void configureFolderDialog(QFileDialog &dialog);

// Serial devices for training and demonstrations: only the virtual lines of the devices folder
// exist. No default device, and no entry of the folder that is not a virtual line (a link to a
// tty included), is ever opened or probed.
class VirtualOnlySerialDevices final : public SerialDevices {
public:
    explicit VirtualOnlySerialDevices(QString devicesFolder);
    QString deviceName(int port) override;
    std::unique_ptr<SerialDevice> open(int port, const SerialSettings &settings) override;
    // Only a virtual line's socket; anything else is refused unopened.
    std::unique_ptr<SerialDevice> openNode(const QString &node, const SerialSettings &settings) override;
    bool probe(int port) override;

private:
    bool isVirtualLine(int port);
    LinuxSerialDevices lines_;
};

// Owns one of each real service. With virtualPortsOnly the desk never touches a real serial
// device.
class RealPlatform {
public:
    // spreadsheet: the workbook engine, which the program makes with its reader program.
    RealPlatform(SpreadsheetAutomation &spreadsheet, const QStringList &cueFiles, DataFolders data,
                 bool virtualPortsOnly = false);
    Platform bundle();
    // Serves the help requests of later bundles with another viewer.
    void useHelpViewer(HelpViewer &viewer) { help_ = &viewer; }

private:
    DataFolders data_;
    MonotonicTicks ticks_;
    CueSoundPlayer sound_;
    IniSettingsStore settings_;
    QtDialogs dialogs_;
    DesktopHelpViewer desktopHelp_;
    HelpViewer *help_ = &desktopHelp_;
    MimeFileTypeNames fileTypes_;
    std::unique_ptr<SerialDevices> serial_;
    SpreadsheetAutomation &spreadsheet_;
    SystemRealtimeScheduler realtime_;
    UdevDeviceMonitor deviceMonitor_;
};

} // namespace platform
