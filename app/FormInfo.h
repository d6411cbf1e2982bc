#pragma once
// The information window: product name, version and release date of the build.

#include <QDialog>
#include <QIcon>

class QLabel;
class QPushButton;

class TFormInfo : public QDialog {
    Q_OBJECT
public:
    explicit TFormInfo(QWidget *parent = nullptr);

    // "Version 1.4" and, on a second line, the build date: "vom 14.05.2027".
    static QString VersionText();
    // The desk's icon (resources/zielkron.svg) in the sizes it carries; the program sets it as the
    // application's icon, which this window shows.
    static QIcon DeskIcon();

    QLabel *Image1;
    QLabel *ProgramIcon;
    QLabel *ProductName;
    QLabel *Version;
    QPushButton *OKButton;
};
