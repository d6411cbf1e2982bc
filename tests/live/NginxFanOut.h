#pragma once
// nginx with its nchan module as an ordinary process on loopback, for the fan-out's test and its
// benchmark: a prefix folder of its own, a main configuration that loads the module, and the site
// configuration the package ships (packaging/nginx/zielkron-live.conf) with its port and its page
// folder rewritten. The process runs in the foreground (daemon off) as a child of the caller, with
// one worker as the README asks for the stands: with several, nchan hands some streams that connect
// while others do (about 1 in 1,000; 1 in 5 of 5,000 at once) none of the stored messages of the
// channels another worker owns.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

class NginxFanOut {
public:
    static QString program() { return QStringLiteral("/usr/sbin/nginx"); }
    static QString module() { return QStringLiteral("/usr/lib/nginx/modules/ngx_nchan_module.so"); }
    static bool available() { return QFileInfo(program()).isExecutable() && QFileInfo::exists(module()); }

    // prefix: an empty folder; site: the shipped site configuration; pages: the folder of the pages.
    NginxFanOut(const QString &prefix, const QString &site, const QString &pages, int workerConnections = 1024,
                int workers = 1)
        : prefix_(prefix), site_(site), pages_(pages), workerConnections_(workerConnections), workers_(workers)
    {
    }
    ~NginxFanOut() { stop(); }

    // Writes the configuration and starts nginx on `port` (0: a free one); true once it accepts
    // connections. error() tells what went wrong otherwise.
    bool start(int port = 0)
    {
        if (port == 0)
            port = freePort();
        port_ = port;
        if (!configure())
            return false;
        // Everything the child needs is made before the fork: it only calls what is safe there.
        const std::string p = program().toStdString(), pre = prefix_.toStdString(),
                          conf = (prefix_ + QStringLiteral("/nginx.conf")).toStdString();
        pid_ = ::fork();
        if (pid_ == 0) {
            // Ends with the test or benchmark that started it, and keeps none of its output streams.
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
            ::dup2(null, STDIN_FILENO);
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
            ::execl(p.c_str(), p.c_str(), "-p", pre.c_str(), "-c", conf.c_str(), "-g", "daemon off;",
                    static_cast<char *>(nullptr));
            ::_exit(127);
        }
        for (int i = 0; i < 500; ++i) {
            if (accepts())
                return true;
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                error_ = QStringLiteral("nginx ended: ") + errorLog();
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        error_ = QStringLiteral("nginx does not accept connections: ") + errorLog();
        return false;
    }

    // Ends nginx at once (as a crash or a pulled cable would for the desk) and waits for it.
    void stop()
    {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
        // The workers end with the master; a port still held would keep the next start from it.
        for (int i = 0; i < 500 && accepts(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    int port() const { return port_; }
    pid_t pid() const { return pid_; }
    QString error() const { return error_; }
    QString errorLog() const
    {
        QFile f(prefix_ + QStringLiteral("/error.log"));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    // The resident memory of the master and its workers, in KiB.
    long memoryKiB() const
    {
        long total = 0;
        std::vector<pid_t> pids{pid_};
        QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(pid_));
        if (children.open(QIODevice::ReadOnly))
            for (const QByteArray &child : children.readAll().split(' '))
                if (child.toInt() > 0)
                    pids.push_back(child.toInt());
        for (const pid_t pid : pids) {
            QFile status(QStringLiteral("/proc/%1/status").arg(pid));
            if (!status.open(QIODevice::ReadOnly))
                continue;
            for (const QByteArray &line : status.readAll().split('\n'))
                if (line.startsWith("VmRSS:"))
                    total += line.mid(6).trimmed().split(' ').value(0).toLong();
        }
        return total;
    }

private:
    static int freePort()
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
        ::close(fd);
        return ntohs(a.sin_port);
    }

    bool accepts() const
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port_));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
        ::close(fd);
        return ok;
    }

    // The shipped site with three changes, each of which must find its line: the port on
    // loopback instead of 80 (and no IPv6), and the page folder.
    bool configure()
    {
        QFile in(site_);
        if (!in.open(QIODevice::ReadOnly)) {
            error_ = QStringLiteral("no site configuration at ") + site_;
            return false;
        }
        QString site = QString::fromUtf8(in.readAll());
        const struct {
            QString from, to;
        } edits[] = {
            {QStringLiteral("    listen 80;\n"), QStringLiteral("    listen 127.0.0.1:%1;\n").arg(port_)},
            {QStringLiteral("    listen [::]:80;\n"), QString()},
            {QStringLiteral("root /usr/share/zielkron/live;"), QStringLiteral("root %1/pages;").arg(prefix_)},
        };
        for (const auto &e : edits) {
            if (!site.contains(e.from)) {
                error_ = QStringLiteral("the site configuration has no \"%1\"").arg(e.from.trimmed());
                return false;
            }
            site.replace(e.from, e.to);
        }
        QDir().mkpath(prefix_ + QStringLiteral("/logs"));
        // nginx started by root serves as "nobody": the prefix and the pages in it must be open to it.
        ::chmod(prefix_.toLocal8Bit().constData(), 0755);
        const QString served = prefix_ + QStringLiteral("/pages");
        QDir().mkpath(served);
        for (const QString &page : QDir(pages_).entryList({QStringLiteral("*.html")}, QDir::Files)) {
            QFile::remove(served + QLatin1Char('/') + page);
            QFile::copy(pages_ + QLatin1Char('/') + page, served + QLatin1Char('/') + page);
            QFile(served + QLatin1Char('/') + page).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                                  | QFileDevice::ReadGroup | QFileDevice::ReadOther);
        }
        const QString mime = QFileInfo::exists(QStringLiteral("/etc/nginx/mime.types"))
                                 ? QStringLiteral("  include /etc/nginx/mime.types;\n")
                                 : QString();
        const QString main =
            QStringLiteral("load_module %1;\n"
                           "worker_processes %6;\n"
                           "worker_rlimit_nofile %2;\n"
                           "pid %3/nginx.pid;\n"
                           "error_log %3/error.log warn;\n"
                           "events { worker_connections %4; }\n"
                           "http {\n%5"
                           "  access_log off;\n"
                           "  client_body_temp_path %3/body;\n  proxy_temp_path %3/proxy;\n"
                           "  fastcgi_temp_path %3/fastcgi;\n  uwsgi_temp_path %3/uwsgi;\n  scgi_temp_path %3/scgi;\n"
                           "  include %3/zielkron-live.conf;\n"
                           "}\n")
                .arg(module())
                .arg(workerConnections_ * 2 + 64)
                .arg(prefix_)
                .arg(workerConnections_)
                .arg(mime)
                .arg(workers_);
        QFile siteOut(prefix_ + QStringLiteral("/zielkron-live.conf"));
        QFile mainOut(prefix_ + QStringLiteral("/nginx.conf"));
        if (!siteOut.open(QIODevice::WriteOnly) || !mainOut.open(QIODevice::WriteOnly)) {
            error_ = QStringLiteral("cannot write into ") + prefix_;
            return false;
        }
        siteOut.write(site.toUtf8());
        mainOut.write(main.toUtf8());
        return true;
    }

    QString prefix_, site_, pages_;
    int workerConnections_;
    int workers_;
    int port_ = 0;
    pid_t pid_ = -1;
    QString error_;
};
