#pragma once
// A main window on the platform fakes, in a working folder of its own.

#include "CfgDialog.h"
#include "FakePlatform.h"
#include "FormInfo.h"
#include "FormMain.h"

#include <QDir>
#include <QTemporaryDir>

#include <memory>

struct Desk {
    fake::Platform fp;
    QTemporaryDir workDir;
    QString previousDir = QDir::currentPath();
    QString programPath = QStringLiteral("/opt/zielkron/zielkron");
    std::unique_ptr<TFormMain> form;
    std::unique_ptr<TCfgDialog> cfg;
    std::unique_ptr<TFormInfo> info;

    Desk() { QDir::setCurrent(workDir.path()); }
    ~Desk()
    {
        info.reset();
        cfg.reset();
        form.reset();
        QDir::setCurrent(previousDir);
    }

    TFormMain &create()
    {
        form = std::make_unique<TFormMain>(fp.bundle(), programPath);
        cfg = std::make_unique<TCfgDialog>(form->AvailablePorts, form.get());
        form->CfgDialog = cfg.get();
        info = std::make_unique<TFormInfo>(form.get());
        form->FormInfo = info.get();
        return *form;
    }
    // Ends the run as an orderly shut-down does: the settings are written.
    void destroy()
    {
        info.reset();
        cfg.reset();
        form.reset();
    }
    fake::Key &key() { return fp.settings.keys[QStringLiteral("zielkron")]; }
    void writeFile(const QString &name, const QByteArray &bytes)
    {
        QFile f(QDir(workDir.path()).filePath(name));
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
    }
};
