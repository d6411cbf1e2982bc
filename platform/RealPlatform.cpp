#include "RealPlatform.h"

#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QPrinterInfo>
#include <QSettings>
#include <QSoundEffect>
#include <QUrl>

#include <sys/stat.h>

#include <cerrno>
#include <ctime>
#include <limits>

namespace platform {

// ---------------------------------------------------------------------------------------------
// Tick counter

std::uint32_t MonotonicTicks::tickCount()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const auto ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u
                    + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

void MonotonicTicks::sleep(std::uint32_t ms)
{
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += ms / 1000;
    deadline.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    // An absolute deadline keeps the wait exact when a signal interrupts it.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

// ---------------------------------------------------------------------------------------------
// Sound cues

CueSoundPlayer::CueSoundPlayer(const QStringList &cueFiles, const DataFolders &folders)
    : folders_(folders)
{
    for (const QString &file : cueFiles)
        effectFor(file);
}

CueSoundPlayer::~CueSoundPlayer() = default;

QSoundEffect *CueSoundPlayer::effectFor(const QString &fileName)
{
    auto it = effects_.find(fileName);
    if (it != effects_.end())
        return it->second.get();
    const QString path = folders_.find(fileName);
    if (path.isEmpty())
        return nullptr;
    auto effect = std::make_unique<QSoundEffect>();
    effect->setSource(QUrl::fromLocalFile(path));
    QSoundEffect *raw = effect.get();
    effects_.emplace(fileName, std::move(effect));
    return raw;
}

void CueSoundPlayer::play(const QString &fileName)
{
    if (playing_)
        playing_->stop();
    playing_ = effectFor(fileName);
    if (playing_)
        playing_->play();
}

// ---------------------------------------------------------------------------------------------
// Settings

namespace {

class IniReader final : public SettingsReader {
public:
    explicit IniReader(const QString &file) : settings_(file, QSettings::IniFormat) {}

    std::optional<std::int32_t> readInteger(const QString &name) override
    {
        const QVariant v = settings_.value(name);
        if (!v.isValid() || v.typeId() != QMetaType::QString)
            return std::nullopt;
        bool ok = false;
        const qlonglong n = v.toString().trimmed().toLongLong(&ok, 10);
        // A 32-bit value as the registry keeps it: signed, or its unsigned spelling.
        if (!ok || n < std::numeric_limits<std::int32_t>::min()
            || n > static_cast<qlonglong>(std::numeric_limits<std::uint32_t>::max()))
            return std::nullopt;
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(n));
    }

    std::optional<QString> readString(const QString &name) override
    {
        const QVariant v = settings_.value(name);
        if (!v.isValid())
            return std::nullopt;
        if (v.typeId() == QMetaType::QStringList)
            return v.toStringList().join(QStringLiteral(", "));
        return v.toString();
    }

private:
    QSettings settings_;
};

class IniWriter final : public SettingsWriter {
public:
    explicit IniWriter(const QString &file) : settings_(file, QSettings::IniFormat) {}

    void writeInteger(const QString &name, std::int32_t value) override
    {
        settings_.setValue(name, QString::number(value));
    }
    void writeString(const QString &name, const QString &value) override
    {
        settings_.setValue(name, value);
    }
    bool commit() override
    {
        settings_.sync();
        return settings_.status() == QSettings::NoError;
    }

private:
    QSettings settings_;
};

} // namespace

IniSettingsStore::IniSettingsStore(QString organisation, QString folder)
    : organisation_(std::move(organisation)), folder_(std::move(folder))
{
}

QString IniSettingsStore::fileNameFor(const QString &program) const
{
    if (folder_.isEmpty())
        return QSettings(QSettings::IniFormat, QSettings::UserScope, organisation_, program).fileName();
    return QDir(folder_).filePath(organisation_ + QLatin1Char('/') + program + QStringLiteral(".ini"));
}

QString IniSettingsStore::journalFile(const QString &program)
{
    const QString folder = QFileInfo(fileNameFor(program)).absolutePath();
    QDir().mkpath(folder);
    return QDir(folder).filePath(program + QStringLiteral(".journal"));
}

std::unique_ptr<SettingsReader> IniSettingsStore::openForRead(const QString &program)
{
    const QString file = fileNameFor(program);
    const QFileInfo info(file);
    if (!info.isFile() || !info.isReadable())
        return nullptr;
    return std::make_unique<IniReader>(file);
}

std::unique_ptr<SettingsWriter> IniSettingsStore::openForWrite(const QString &program)
{
    const QString file = fileNameFor(program);
    const QFileInfo info(file);
    if (!QDir().mkpath(info.absolutePath()))
        return nullptr;
    if (info.exists() && !info.isWritable())
        return nullptr;
    auto writer = std::make_unique<IniWriter>(file);
    return writer;
}

// ---------------------------------------------------------------------------------------------
// Dialogs

std::unique_ptr<QMessageBox> makeMessageBox(QWidget *parent, const QString &text, const QString &caption,
                                            MessageButtons buttons, MessageIcon icon)
{
    auto box = std::make_unique<QMessageBox>(parent);
    box->setWindowTitle(caption);
    box->setText(text);
    switch (icon) {
    case MessageIcon::None: box->setIcon(QMessageBox::NoIcon); break;
    case MessageIcon::Information: box->setIcon(QMessageBox::Information); break;
    case MessageIcon::Warning: box->setIcon(QMessageBox::Warning); break;
    case MessageIcon::Error: box->setIcon(QMessageBox::Critical); break;
    case MessageIcon::Question: box->setIcon(QMessageBox::Question); break;
    }
    switch (buttons) {
    case MessageButtons::Ok:
        box->setStandardButtons(QMessageBox::Ok);
        break;
    case MessageButtons::OkCancel:
        box->setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box->setEscapeButton(QMessageBox::Cancel);
        break;
    case MessageButtons::YesNo:
    case MessageButtons::YesNoDefaultNo:
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box->setEscapeButton(QMessageBox::No);
        if (buttons == MessageButtons::YesNoDefaultNo)
            box->setDefaultButton(QMessageBox::No);
        break;
    }
    return box;
}

int QtDialogs::messageBox(QWidget *parent, const QString &text, const QString &caption,
                          MessageButtons buttons, MessageIcon icon)
{
    switch (makeMessageBox(parent, text, caption, buttons, icon)->exec()) {
    case QMessageBox::Yes: return MbYes;
    case QMessageBox::No: return MbNo;
    case QMessageBox::Cancel: return MbCancel;
    case QMessageBox::Ok: return MbOk;
    default: return buttons == MessageButtons::Ok || buttons == MessageButtons::OkCancel ? MbCancel : MbNo;
    }
}

QStringList nameFiltersFromDeskFilter(const QString &filter)
{
    QStringList out;
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        const QString description = parts[i];
        const QString pattern = parts[i + 1];
        if (description.isEmpty() && pattern.isEmpty())
            continue;
        // Qt reads the patterns from the parentheses of the description.
        if (description.contains(QLatin1Char('('))) {
            out << description.trimmed();
            continue;
        }
        QString patterns = pattern;
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        out << description.trimmed() + QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
    return out;
}

QStringList filterExtensions(const QString &filter, int index)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    const qsizetype at = 2 * (qsizetype(index) - 1) + 1;
    if (index < 1 || at >= parts.size())
        return {};
    QStringList out;
    for (const QString &pattern : parts[at].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString p = pattern.trimmed().toLower();
        if (p.startsWith(QLatin1String("*.")) && p.size() > 2 && !p.mid(2).contains(QLatin1Char('*'))
            && !p.mid(2).contains(QLatin1Char('?')))
            out << p.mid(2);
    }
    return out;
}

QString withPickedExtension(const QString &fileName, const QString &filter, int index, bool mustExist)
{
    const QFileInfo info(fileName);
    const QStringList extensions = filterExtensions(filter, index);
    if (fileName.isEmpty() || !info.suffix().isEmpty() || extensions.isEmpty() || (mustExist && info.isFile()))
        return fileName;
    if (mustExist)
        for (const QString &ext : extensions)
            if (QFileInfo(fileName + QLatin1Char('.') + ext).isFile())
                return fileName + QLatin1Char('.') + ext;
    return fileName + QLatin1Char('.') + extensions.constFirst();
}

void configureFileDialog(QFileDialog &dialog, const FileDialogRequest &request, bool save)
{
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (save)
        dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    else
        dialog.setOption(QFileDialog::ReadOnly, true);
    const QStringList filters = nameFiltersFromDeskFilter(request.filter);
    dialog.setNameFilters(filters);
    if (request.filterIndex >= 1 && request.filterIndex <= filters.size())
        dialog.selectNameFilter(filters[request.filterIndex - 1]);
    // A name typed without an extension gets the picked type's, following the type as it changes.
    const QString deskFilter = request.filter;
    const QString fallback = request.defaultExt;
    const auto suffixFor = [deskFilter, fallback, filters](const QString &nameFilter) {
        const QStringList extensions =
            filterExtensions(deskFilter, static_cast<int>(filters.indexOf(nameFilter)) + 1);
        return extensions.isEmpty() ? fallback : extensions.constFirst();
    };
    dialog.setDefaultSuffix(suffixFor(dialog.selectedNameFilter()));
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&dialog, suffixFor](const QString &nameFilter) { dialog.setDefaultSuffix(suffixFor(nameFilter)); });
    if (!request.fileName.isEmpty())
        dialog.selectFile(request.fileName);
}

namespace {

bool runFileDialog(QWidget *parent, FileDialogRequest &request, bool save)
{
    QFileDialog dialog(parent, request.title, request.initialDir);
    configureFileDialog(dialog, request, save);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    const int chosen = static_cast<int>(dialog.nameFilters().indexOf(dialog.selectedNameFilter()));
    if (chosen >= 0)
        request.filterIndex = chosen + 1;
    request.fileName = withPickedExtension(QFileInfo(dialog.selectedFiles().constFirst()).absoluteFilePath(),
                                           request.filter, request.filterIndex, !save);
    return true;
}

} // namespace

bool QtDialogs::openFile(QWidget *parent, FileDialogRequest &request)
{
    return runFileDialog(parent, request, false);
}

bool QtDialogs::saveFile(QWidget *parent, FileDialogRequest &request)
{
    return runFileDialog(parent, request, true);
}

void configureFolderDialog(QFileDialog &dialog)
{
    // Qt's own dialog, as for files: the desktop's would speak the system's language.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
}

bool QtDialogs::chooseFolder(QWidget *parent, const QString &title, QString &folder)
{
    QFileDialog dialog(parent, title, folder);
    configureFolderDialog(dialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    folder = QFileInfo(dialog.selectedFiles().constFirst()).absoluteFilePath();
    return true;
}

int QtDialogs::execModal(QDialog *dialog)
{
    return dialog->exec();
}

// ---------------------------------------------------------------------------------------------
// Help and file-type names

void DesktopHelpViewer::showContents(const QString &helpFile)
{
    if (QFileInfo(helpFile).isFile())
        QDesktopServices::openUrl(QUrl::fromLocalFile(helpFile));
}

void DesktopHelpViewer::showManual(QWidget *, const QString &manualFile, const QString &anchor)
{
    if (!QFileInfo(manualFile).isFile())
        return;
    QUrl url = QUrl::fromLocalFile(manualFile);
    url.setFragment(anchor);
    QDesktopServices::openUrl(url);
}

namespace {
std::optional<QString> mimeComment(const char *name)
{
    const QMimeType type = QMimeDatabase().mimeTypeForName(QString::fromLatin1(name));
    if (!type.isValid() || type.comment().isEmpty())
        return std::nullopt;
    return type.comment();
}
} // namespace

std::optional<QString> MimeFileTypeNames::textFiles() { return mimeComment("text/plain"); }
std::optional<QString> MimeFileTypeNames::csvFiles() { return mimeComment("text/csv"); }

// ---------------------------------------------------------------------------------------------

VirtualOnlySerialDevices::VirtualOnlySerialDevices(QString devicesFolder)
    : lines_(std::move(devicesFolder), DeviceTable{})
{
}

namespace {

bool isSocketItself(const QString &name)
{
    struct stat st{};
    // lstat: a link is not followed, so a link to a tty is never even looked at.
    return !name.isEmpty() && ::lstat(QFile::encodeName(name).constData(), &st) == 0 && S_ISSOCK(st.st_mode);
}

} // namespace

bool VirtualOnlySerialDevices::isVirtualLine(int port)
{
    return isSocketItself(lines_.deviceName(port));
}

QString VirtualOnlySerialDevices::deviceName(int port)
{
    return isVirtualLine(port) ? lines_.deviceName(port) : QString();
}

std::unique_ptr<SerialDevice> VirtualOnlySerialDevices::open(int port, const SerialSettings &settings)
{
    if (!isVirtualLine(port))
        throw SerialError(SerialError::Open, "no virtual line for this port (virtual ports only)");
    return lines_.open(port, settings);
}

std::unique_ptr<SerialDevice> VirtualOnlySerialDevices::openNode(const QString &node, const SerialSettings &settings)
{
    if (!isSocketItself(node))
        throw SerialError(SerialError::Open, "not a virtual line (virtual ports only)");
    return lines_.openNode(node, settings);
}

bool VirtualOnlySerialDevices::probe(int port)
{
    return isVirtualLine(port) && lines_.probe(port);
}

RealPlatform::RealPlatform(SpreadsheetAutomation &spreadsheet, const QStringList &cueFiles, DataFolders data,
                           bool virtualPortsOnly)
    : data_(std::move(data)), sound_(cueFiles, data_), settings_(QStringLiteral("Tempovia")), spreadsheet_(spreadsheet),
      deviceMonitor_(defaultDevicesFolder(), !virtualPortsOnly)
{
    if (virtualPortsOnly)
        serial_ = std::make_unique<VirtualOnlySerialDevices>(defaultDevicesFolder());
    else
        serial_ = std::make_unique<LinuxSerialDevices>(defaultDevicesFolder(), defaultDeviceTable());
}

// ---------------------------------------------------------------------------------------------
// Printers

namespace {

class SystemPrinters final : public Printers {
public:
    QStringList printerNames() override { return QPrinterInfo::availablePrinterNames(); }
};

} // namespace

Printers &Printers::system()
{
    static SystemPrinters printers;
    return printers;
}

Platform RealPlatform::bundle()
{
    return Platform{ticks_, sound_, settings_, dialogs_, *help_, fileTypes_, *serial_, spreadsheet_, realtime_,
                    FileCalls::system(), Printers::system(), data_, deviceMonitor_};
}

} // namespace platform
