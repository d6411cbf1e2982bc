#pragma once
// The live results view of the desk: serves the desk's state on the local network while it is
// switched on (TFormMain::LiveSettings) and shows the addresses to open in a small label of the
// main window. Everything here runs on the UI thread except the server's own threads.

#include "LiveServer.h"
#include "LiveSnapshot.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <memory>

class QLabel;
class TFormMain;
struct TLiveSettings;

namespace live {

class LiveView : public QObject {
    Q_OBJECT
public:
    static constexpr int RefreshMs = 40;

    explicit LiveView(TFormMain &desk, QObject *parent = nullptr);
    ~LiveView() override;

    // Follows the desk's live settings: starts, restarts or stops the server and the refresh.
    void apply();
    // The refresh timer's handler: reads the desk and publishes a snapshot when anything changed.
    void refresh();

    bool isServing() const { return server_ && server_->isRunning(); }
    LiveServer *server() const { return server_.get(); }
    int port() const { return server_ ? server_->port() : 0; }
    int publishCount() const { return publishCount_; }
    QTimer *refreshTimer() { return &timer_; }
    // The label in the bottom panel; created when the view is first switched on.
    QLabel *AddressLabel = nullptr;

    // The addresses under which the desk can be reached for a bind address ("" or "0.0.0.0":
    // the machine's IPv4 network addresses, else the bind address itself).
    static QStringList Addresses(const QString &bind);

    // The command-line option "--live PORT" or "--live ADDRESS:PORT": switches the view on for
    // this run. False with a message when the option is malformed; true without it.
    static bool ParseOption(const QStringList &arguments, TLiveSettings &settings, QString &message);

private:
    void showAddresses();
    void showError(const QString &text);

    TFormMain &desk_;
    std::unique_ptr<LiveServer> server_;
    QTimer timer_;
    Snapshot last_;
    bool published_ = false;
    int publishCount_ = 0;
    bool applied_ = false;
    bool appliedOn_ = false;
    int appliedPort_ = 0;
    QString appliedBind_;
};

} // namespace live
