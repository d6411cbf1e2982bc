#include "FormInfo.h"

#include "Version.h"

#include <QDate>
#include <QFrame>
#include <QLocale>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStyle>

namespace {

// The logo across the top: a finish line with the product name.
QPixmap drawLogo()
{
    QPixmap pm(238, 65);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(QRect(0, 8, 238, 49), QColor(0, 128, 0));
    for (int i = 0; i < 7; ++i)
        p.fillRect(QRect(200 + (i % 2) * 8, 8 + i * 7, 8, 7), Qt::white);
    for (int i = 0; i < 7; ++i)
        p.fillRect(QRect(200 + ((i + 1) % 2) * 8, 8 + i * 7, 8, 7), Qt::black);
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(30);
    f.setBold(true);
    p.setFont(f);
    p.setPen(QColor(255, 255, 0));
    p.drawText(QRect(8, 8, 190, 49), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("Zielkron"));
    return pm;
}

} // namespace

QIcon TFormInfo::DeskIcon()
{
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128})
        icon.addFile(QStringLiteral(":/icons/zielkron-%1").arg(size));
    return icon;
}

QString TFormInfo::VersionText()
{
    // The date in the locale's numeric form with a four-digit year (German: 14.05.2027).
    QString text = QStringLiteral("Version %1").arg(QString::fromLatin1(build::Version));
    const QDate date = QDate::fromString(QString::fromLatin1(build::Date), Qt::ISODate);
    if (date.isValid()) {
        QString format = QLocale().dateFormat(QLocale::ShortFormat);
        if (!format.contains(QLatin1String("yyyy")))
            format.replace(QLatin1String("yy"), QLatin1String("yyyy"));
        text += QStringLiteral("\nvom ") + QLocale().toString(date, format);
    }
    return text;
}

TFormInfo::TFormInfo(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FormInfo"));
    setWindowTitle(QStringLiteral("Information"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(256, 407);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(0xC0, 0xC0, 0xC0));
    pal.setColor(QPalette::WindowText, Qt::black);
    setPalette(pal);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(9, 8, 238, 65);
    Image1->setAlignment(Qt::AlignCenter);
    Image1->setPixmap(drawLogo());

    auto *iconPanel = new QFrame(this);
    iconPanel->setObjectName(QStringLiteral("Panel1"));
    iconPanel->setGeometry(16, 96, 44, 44);
    iconPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    iconPanel->setLineWidth(2);
    ProgramIcon = new QLabel(iconPanel);
    ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
    ProgramIcon->setGeometry(6, 6, 32, 32);
    const QIcon icon = windowIcon().isNull() ? style()->standardIcon(QStyle::SP_ComputerIcon) : windowIcon();
    ProgramIcon->setPixmap(icon.pixmap(32, 32));

    ProductName = new QLabel(QStringLiteral("Zielkron"), this);
    ProductName->setObjectName(QStringLiteral("ProductName"));
    QFont pf(QStringLiteral("Arial"));
    pf.setPixelSize(19);
    pf.setBold(true);
    pf.setUnderline(true);
    ProductName->setFont(pf);
    ProductName->setStyleSheet(QStringLiteral("color: #800000"));
    ProductName->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    ProductName->setGeometry(70, 100, 170, 26);

    Version = new QLabel(this);
    Version->setObjectName(QStringLiteral("Version"));
    Version->setText(VersionText());
    QFont vf(QStringLiteral("MS Sans Serif"));
    vf.setPixelSize(15);
    Version->setFont(vf);
    Version->setAlignment(Qt::AlignRight | Qt::AlignTop);
    Version->setGeometry(70, 134, 170, 44);

    OKButton = new QPushButton(QStringLiteral("Einverstanden"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    QFont bf(QStringLiteral("MS Sans Serif"));
    bf.setPixelSize(15);
    bf.setBold(true);
    OKButton->setFont(bf);
    OKButton->setFlat(true);
    OKButton->setIcon(style()->standardIcon(QStyle::SP_DialogApplyButton));
    OKButton->setGeometry(48, 360, 160, 32);
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
}
