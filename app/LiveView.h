#pragma once
// The live results view of the desk: serves the desk's state on the local network while it is
// switched on (TFormMain::LiveSettings), hands it on to a fan-out for the stands while a publisher
// address is set (both may run at once), and shows the addresses to open and the fan-out's state in
// a small label of the main window. Everything here runs on the UI thread except the server's and
// the publisher's own threads.

#include "LivePublisher.h"
#include "LiveServer.h"
#include "LiveSnapshot.h"

#include <QElapsedTimer>
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
    // However fast the desk changes, it is read at most once in this many milliseconds.
    static constexpr int CoalesceMs = 10;

    explicit LiveView(TFormMain &desk, QObject *parent = nullptr);
    ~LiveView() override;

    // Follows the desk's live settings: starts, restarts or stops the server and the publisher.
    void apply();
    // Something the pages show may have changed. The desk is read once the command that changed
    // it has run, and at most once every CoalesceMs. The view calls this itself for every command,
    // edit, line edge and change of the results table of the desk; never while the clock only counts.
    void deskChanged();
    // Reads the desk and publishes a snapshot when anything changed.
    void refresh();

    bool isServing() const { return server_ && server_->isRunning(); }
    LiveServer *server() const { return server_.get(); }
    LivePublisher *publisher() const { return publisher_.get(); }
    int port() const { return server_ ? server_->port() : 0; }
    int publishCount() const { return publishCount_; }
    int refreshCount() const { return refreshCount_; } // times the desk was read
    bool refreshPending() const { return pending_.isActive(); }
    // The label in the top panel; created when the view is first switched on.
    QLabel *AddressLabel = nullptr;

    // The addresses under which the desk can be reached for a bind address ("" or "0.0.0.0":
    // the machine's IPv4 network addresses, else the bind address itself).
    static QStringList Addresses(const QString &bind);

    // The command-line options "--live PORT" or "--live ADDRESS:PORT" (switches the view on) and
    // "--live-publish URL" (hands the desk on to that fan-out), each for this run only. False with a
    // message when an option is malformed; true without them.
    static bool ParseOption(const QStringList &arguments, TLiveSettings &settings, QString &message);

private:
    void listenToDesk();
    void startServer();
    void startPublisher();
    void showState();

    TFormMain &desk_;
    std::unique_ptr<LiveServer> server_;
    std::unique_ptr<LivePublisher> publisher_;
    QString serverError_;    // why the server could not start
    QString publisherError_; // why the publisher could not start
    QTimer pending_;
    QElapsedTimer sinceRefresh_;
    Snapshot last_;             // the heat as last published, without the meeting
    QByteArray heatMembers_;    // the heat as last published, as JSON members
    QByteArray meetingMembers_; // the meeting as last published, as JSON members
    bool published_ = false;
    bool meetingStale_ = true;  // the results table changed since it was last read
    int publishCount_ = 0;
    int refreshCount_ = 0;
    bool applied_ = false;
    bool appliedOn_ = false;
    int appliedPort_ = 0;
    QString appliedBind_;
    QString appliedProxies_;
    QString appliedPublish_;
};

} // namespace live
