#include "LiveView.h"

#include "FormMain.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkInterface>
#include <QRegularExpression>

#include <optional>

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
    publisher_.reset();
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
    // "--NAME VALUE" or "--NAME=VALUE"; nothing when the option is not there.
    auto option = [&arguments](const QString &name) -> std::optional<QString> {
        for (qsizetype i = 1; i < arguments.size(); ++i) {
            if (arguments[i] == QLatin1String("--"))
                break;
            if (arguments[i] == name)
                return arguments.value(i + 1);
            if (arguments[i].startsWith(name + QLatin1Char('=')))
                return arguments[i].mid(name.size() + 1);
        }
        return std::nullopt;
    };
    if (const std::optional<QString> url = option(QStringLiteral("--live-publish"))) {
        if (!ParsePublisherUrl(*url)) {
            message = QStringLiteral("--live-publish URL erwartet, z. B. --live-publish http://127.0.0.1/verteiler");
            return false;
        }
        settings.PublishUrl = url->trimmed();
    }
    const std::optional<QString> live = option(QStringLiteral("--live"));
    if (!live)
        return true;
    const QString value = *live;
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
    const QString proxies = s.TrustedProxies.simplified();
    const QString publish = s.PublishUrl.trimmed();
    const bool serverSame = applied_ && s.On == appliedOn_
                            && (!s.On || (s.Port == appliedPort_ && bind == appliedBind_ && proxies == appliedProxies_));
    const bool publisherSame = applied_ && publish == appliedPublish_;
    if (serverSame && publisherSame)
        return; // nothing changed: clients stay connected
    applied_ = true;
    appliedOn_ = s.On;
    appliedPort_ = s.Port;
    appliedBind_ = bind;
    appliedProxies_ = proxies;
    appliedPublish_ = publish;

    pending_.stop();
    published_ = false;
    meetingStale_ = true;
    if (!serverSame)
        startServer();
    if (!publisherSame)
        startPublisher();
    if (!server_ && !publisher_ && serverError_.isEmpty() && publisherError_.isEmpty()) {
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
        AddressLabel->setWordWrap(true);
        AddressLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
        AddressLabel->setFocusPolicy(Qt::NoFocus);
    }
    refresh();
    showState();
}

void LiveView::startServer()
{
    server_.reset();
    serverError_.clear();
    const TLiveSettings &s = desk_.LiveSettings;
    if (!s.On)
        return;
    ServerOptions options;
    options.bind = everyNetwork(appliedBind_) ? std::string("0.0.0.0") : appliedBind_.toStdString();
    options.port = s.Port;
    for (const QString &proxy : s.TrustedProxies.split(QRegularExpression(QStringLiteral("[\\s,;]+")), Qt::SkipEmptyParts))
        options.trustedProxies.push_back(proxy.toStdString());
    server_ = std::make_unique<LiveServer>();
    if (!server_->start(options)) {
        serverError_ = server_->errorText();
        server_.reset();
        return;
    }
    // "Any free port" is the port the server got: the settings dialog shows it, and OK without
    // a change keeps the server there.
    if (s.Port == 0) {
        desk_.LiveSettings.Port = server_->port();
        appliedPort_ = server_->port();
    }
}

void LiveView::startPublisher()
{
    publisher_.reset();
    publisherError_.clear();
    if (appliedPublish_.isEmpty())
        return;
    const std::optional<PublisherUrl> url = ParsePublisherUrl(appliedPublish_);
    if (!url) {
        publisherError_ = QStringLiteral("Verteiler-Adresse ungültig");
        return;
    }
    publisher_ = std::make_unique<LivePublisher>(*url);
    // Told on the publisher's thread; shown on this one, by a queued call that is dropped with the view.
    publisher_->setStateListener([this] { QMetaObject::invokeMethod(this, [this] { showState(); }, Qt::QueuedConnection); });
    publisher_->start();
}

// The label: the addresses of the desk's own server, or why it does not serve, and the fan-out's
// state. Three short lines fit; a fan-out out of reach takes the place of the addresses, which stay
// in the tool tip.
void LiveView::showState()
{
    if (!AddressLabel)
        return;
    QStringList lines;
    QStringList tips;
    bool warn = false;
    if (!serverError_.isEmpty()) {
        lines << serverError_;
        tips << serverError_;
        warn = true;
    } else if (server_) {
        const int room = publisher_ || !publisherError_.isEmpty() ? 1 : 2;
        for (const QString &a : Addresses(appliedBind_)) {
            const QString host = a.contains(QLatin1Char(':')) ? QLatin1Char('[') + a + QLatin1Char(']') : a;
            const QString hostPort = host + QLatin1Char(':') + QString::number(port());
            if (lines.size() < room)
                lines << hostPort;
            tips << QStringLiteral("http://%1/  aktueller Lauf\nhttp://%1/anzeige  Anzeigetafel\n"
                                   "http://%1/veranstaltung  Veranstaltung")
                        .arg(hostPort);
        }
    }
    QString fanOut;
    bool fanOutWarn = false;
    if (!publisherError_.isEmpty()) {
        fanOut = publisherError_;
        fanOutWarn = true;
        tips << publisherError_ + QStringLiteral(": ") + appliedPublish_;
    } else if (publisher_) {
        switch (publisher_->state()) {
        case LivePublisher::State::Connecting:
            fanOut = QStringLiteral("Verteiler verbindet …");
            break;
        case LivePublisher::State::Connected:
            fanOut = QStringLiteral("Verteiler aktiv");
            break;
        case LivePublisher::State::Unreachable:
            fanOut = QStringLiteral("Verteiler nicht erreichbar");
            fanOutWarn = true;
            break;
        }
        const QString problem = publisher_->problem();
        tips << QStringLiteral("Verteiler %1%2").arg(appliedPublish_, problem.isEmpty() ? QString() : QStringLiteral(": ") + problem);
    }
    if (fanOutWarn)
        lines = QStringList{fanOut}; // the one thing to see at a glance
    else if (!fanOut.isEmpty())
        lines << fanOut;
    lines.prepend(QStringLiteral("Live-Anzeige:"));
    AddressLabel->setText(lines.join(QLatin1Char('\n')));
    AddressLabel->setToolTip(tips.join(QStringLiteral("\n\n")));
    QPalette pal = AddressLabel->palette();
    pal.setColor(QPalette::WindowText, warn || fanOutWarn ? QColor(255, 255, 0) : QColor(Qt::white));
    AddressLabel->setPalette(pal);
    AddressLabel->show();
}

void LiveView::deskChanged()
{
    if ((!server_ && !publisher_) || pending_.isActive())
        return;
    // The first change after a quiet spell is read as soon as the command that made it has run;
    // a burst of changes (a start list, a name typed, ten lanes stopping) once every CoalesceMs.
    const qint64 since = sinceRefresh_.isValid() ? sinceRefresh_.elapsed() : CoalesceMs;
    pending_.start(static_cast<int>(std::clamp<qint64>(CoalesceMs - since, 0, CoalesceMs)));
}

void LiveView::refresh()
{
    pending_.stop();
    if (!server_ && !publisher_)
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
    // The meeting handed over unchanged is the same shared bytes: only the heat goes out.
    const std::uint32_t tick = desk_.Platform().ticks.tickCount();
    if (server_)
        server_->publish(heatMembers_, meetingMembers_, tick);
    if (publisher_)
        publisher_->publish(heatMembers_, meetingMembers_, tick);
}

} // namespace live
