#include "LiveView.h"

#include "FormMain.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkInterface>

namespace live {

namespace {

bool everyNetwork(const QString &bind)
{
    return bind.isEmpty() || bind == QLatin1String("0.0.0.0");
}

} // namespace

LiveView::LiveView(TFormMain &desk, QObject *parent) : QObject(parent), desk_(desk)
{
    pending_.setSingleShot(true);
    pending_.setTimerType(Qt::PreciseTimer);
    connect(&pending_, &QTimer::timeout, this, &LiveView::refresh);
    connect(&desk_, &TFormMain::LiveSettingsChanged, this, &LiveView::apply);
    listenToDesk();
}

LiveView::~LiveView()
{
    pending_.stop();
    server_.reset();
}

void LiveView::listenToDesk()
{
    // What the pages show changes only through the meeting: its commands (a key, a button, a line
    // edge), an edit of a field, a change of its table. The view hears all of these, and nothing of
    // the clock, which only counts: a running time is counted on by the pages themselves.
    const meeting::Meeting &model = desk_.Model;
    for (auto signal : {&meeting::Meeting::raceChanged, &meeting::Meeting::deskChanged, &meeting::Meeting::settingsChanged})
        connect(&model, signal, this, &LiveView::deskChanged);
    connect(&model, &meeting::Meeting::laneChanged, this, &LiveView::deskChanged);
    const auto tableChanged = [this] {
        meetingStale_ = true;
        deskChanged();
    };
    connect(&model, &meeting::Meeting::heatEntered, this, tableChanged);
    connect(&model, &meeting::Meeting::recordChanged, this, tableChanged);
    connect(&model, &meeting::Meeting::settingsChanged, this, tableChanged);
}

QStringList LiveView::Addresses(const QString &bind)
{
    if (!everyNetwork(bind))
        return {bind};
    QStringList found;
    for (const QNetworkInterface &nic : QNetworkInterface::allInterfaces()) {
        const auto flags = nic.flags();
        if (!(flags & QNetworkInterface::IsUp) || !(flags & QNetworkInterface::IsRunning)
            || (flags & QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry &entry : nic.addressEntries()) {
            const QHostAddress a = entry.ip();
            if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback())
                found << a.toString();
        }
    }
    if (found.isEmpty())
        found << QStringLiteral("127.0.0.1");
    return found;
}

bool LiveView::ParseOption(const QStringList &arguments, TLiveSettings &settings, QString &message)
{
    const qsizetype at = arguments.indexOf(QStringLiteral("--live"));
    if (at < 0)
        return true;
    const QString value = arguments.value(at + 1);
    const qsizetype colon = value.lastIndexOf(QLatin1Char(':'));
    QString host = colon >= 0 ? value.left(colon) : QString();
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    const int port = value.mid(colon + 1).toInt(&ok);
    if (!ok || port < 0 || port > 65535 || (!host.isEmpty() && QHostAddress(host).isNull())) {
        message = QStringLiteral("--live PORT oder --live ADRESSE:PORT erwartet, z. B. --live 8080");
        return false;
    }
    settings.On = true;
    settings.Port = port;
    if (colon >= 0)
        settings.Bind = host;
    return true;
}

void LiveView::apply()
{
    const TLiveSettings &s = desk_.LiveSettings;
    const QString bind = s.Bind.trimmed();
    if (applied_ && s.On == appliedOn_ && (!s.On || (s.Port == appliedPort_ && bind == appliedBind_)))
        return; // nothing changed: clients stay connected
    applied_ = true;
    appliedOn_ = s.On;
    appliedPort_ = s.Port;
    appliedBind_ = bind;

    pending_.stop();
    server_.reset();
    published_ = false;
    meetingStale_ = true;
    if (!s.On) {
        if (AddressLabel)
            AddressLabel->hide();
        return;
    }

    if (!AddressLabel) {
        // In the top panel between "Export" and the time of day: the bottom panel's free place is
        // the real-time note's, and both may show at once.
        AddressLabel = new QLabel(desk_.PanelTop);
        AddressLabel->setObjectName(QStringLiteral("LiveAddressLabel"));
        AddressLabel->setGeometry(781, 2, 100, 38);
        QFont f(QStringLiteral("Arial"));
        f.setPixelSize(11);
        AddressLabel->setFont(f);
        AddressLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        AddressLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
        AddressLabel->setFocusPolicy(Qt::NoFocus);
    }
    ServerOptions options;
    options.bind = everyNetwork(bind) ? std::string("0.0.0.0") : bind.toStdString();
    options.port = s.Port;
    server_ = std::make_unique<LiveServer>();
    if (!server_->start(options)) {
        showError(server_->errorText());
        server_.reset();
        return;
    }
    // "Any free port" is the port the server got: the settings dialog shows it, and OK without
    // a change keeps the server there.
    if (s.Port == 0) {
        desk_.LiveSettings.Port = server_->port();
        appliedPort_ = server_->port();
    }
    refresh();
    showAddresses();
}

void LiveView::showAddresses()
{
    const QStringList addresses = Addresses(appliedBind_);
    QStringList lines{QStringLiteral("Live-Anzeige:")};
    QStringList urls;
    for (const QString &a : addresses) {
        const QString host = a.contains(QLatin1Char(':')) ? QLatin1Char('[') + a + QLatin1Char(']') : a;
        const QString hostPort = host + QLatin1Char(':') + QString::number(port());
        if (lines.size() < 3)
            lines << hostPort;
        urls << QStringLiteral("http://%1/  aktueller Lauf\nhttp://%1/anzeige  Anzeigetafel\n"
                               "http://%1/veranstaltung  Veranstaltung")
                    .arg(hostPort);
    }
    AddressLabel->setText(lines.join(QLatin1Char('\n')));
    AddressLabel->setToolTip(urls.join(QStringLiteral("\n\n")));
    QPalette pal = AddressLabel->palette();
    pal.setColor(QPalette::WindowText, Qt::white);
    AddressLabel->setPalette(pal);
    AddressLabel->show();
}

void LiveView::showError(const QString &text)
{
    AddressLabel->setText(QStringLiteral("Live-Anzeige:\n") + text);
    AddressLabel->setToolTip(text);
    QPalette pal = AddressLabel->palette();
    pal.setColor(QPalette::WindowText, QColor(255, 255, 0));
    AddressLabel->setPalette(pal);
    AddressLabel->show();
}

void LiveView::deskChanged()
{
    if (!server_ || pending_.isActive())
        return;
    // The first change after a quiet spell is read as soon as the command that made it has run;
    // a burst of changes (a start list, a name typed, ten lanes stopping) once every CoalesceMs.
    const qint64 since = sinceRefresh_.isValid() ? sinceRefresh_.elapsed() : CoalesceMs;
    pending_.start(static_cast<int>(std::clamp<qint64>(CoalesceMs - since, 0, CoalesceMs)));
}

void LiveView::refresh()
{
    pending_.stop();
    if (!server_)
        return;
    sinceRefresh_.start();
    ++refreshCount_;
    Snapshot heat;
    ReadHeat(desk_.Model, heat);
    bool changed = false;
    if (!published_ || !(heat == last_)) {
        heatMembers_ = heat.heatMembers();
        changed = true;
    }
    // The meeting is read again only when the results table or the lane count changed.
    if (meetingStale_ || !published_ || heat.lanes.size() != last_.lanes.size()) {
        Snapshot meeting;
        ReadMeeting(desk_.Model, meeting);
        QByteArray members = meeting.meetingMembers();
        if (members != meetingMembers_) {
            meetingMembers_ = std::move(members);
            changed = true;
        }
        meetingStale_ = false;
    }
    if (!changed)
        return;
    last_ = std::move(heat);
    published_ = true;
    ++publishCount_;
    // The meeting handed over unchanged is the same shared bytes: the server sends only the heat.
    server_->publish(heatMembers_, meetingMembers_, desk_.Platform().ticks.tickCount());
}

} // namespace live
