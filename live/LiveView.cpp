#include "LiveView.h"

#include "FormMain.h"

#include <QHostAddress>
#include <QLabel>
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
    timer_.setInterval(RefreshMs);
    connect(&timer_, &QTimer::timeout, this, &LiveView::refresh);
    connect(&desk_, &TFormMain::LiveSettingsChanged, this, &LiveView::apply);
}

LiveView::~LiveView()
{
    timer_.stop();
    server_.reset();
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

    timer_.stop();
    server_.reset();
    published_ = false;
    if (!s.On) {
        if (AddressLabel)
            AddressLabel->hide();
        return;
    }

    if (!AddressLabel) {
        AddressLabel = new QLabel(desk_.PanelBottom);
        AddressLabel->setObjectName(QStringLiteral("LiveAddressLabel"));
        AddressLabel->setGeometry(403, 4, 98, 42);
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
    refresh();
    timer_.start();
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

void LiveView::refresh()
{
    if (!server_)
        return;
    Snapshot now = SnapshotOfDesk(desk_);
    if (published_ && now == last_)
        return;
    last_ = std::move(now);
    published_ = true;
    ++publishCount_;
    server_->publish(last_.toJson(), desk_.Platform().ticks.tickCount());
}

} // namespace live
