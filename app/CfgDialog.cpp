// The settings dialog and the main window's settings command.

#include "CfgDialog.h"

#include "Comms.h"
#include "FormMain.h"
#include "SpinEdit.h"

#include <QAbstractItemView>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QStyledItemDelegate>

#include <algorithm>
#include <array>
#include <cerrno>
#include <optional>
#include <utility>

namespace {

QPixmap switchPicture(bool closed)
{
    QPixmap pm(41, 16);
    pm.fill(Qt::white);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1.5));
    p.drawLine(QPointF(1, 11), QPointF(10, 11));  // lead in
    p.drawLine(QPointF(31, 11), QPointF(40, 11)); // lead out
    p.setBrush(Qt::black);
    p.drawEllipse(QPointF(11, 11), 1.8, 1.8);
    p.drawEllipse(QPointF(30, 11), 1.8, 1.8);
    p.setPen(QPen(closed ? QColor(0, 128, 0) : QColor(192, 0, 0), 2));
    if (closed)
        p.drawLine(QPointF(11, 11), QPointF(30, 10)); // lever on the contact
    else
        p.drawLine(QPointF(11, 11), QPointF(28, 2)); // lever lifted
    return pm;
}

class SwitchDelegate : public QStyledItemDelegate {
public:
    explicit SwitchDelegate(TSwitchList *list) : QStyledItemDelegate(list), list_(list) {}
    void paint(QPainter *p, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        list_->drawItem(*p, option.rect, index.row(), option.state & QStyle::State_Enabled,
                        option.state & QStyle::State_Selected);
    }
    QSize sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const override { return QSize(70, 18); }

private:
    TSwitchList *list_;
};

QLabel *label(QWidget *parent, const QString &text, int x, int y, int w = 110)
{
    auto *l = new QLabel(text, parent);
    l->setGeometry(x, y, w, 22);
    return l;
}

QComboBox *portList(QWidget *parent, const char *name, int x, int y, const QString &hint)
{
    auto *c = new QComboBox(parent);
    c->setObjectName(QString::fromLatin1(name));
    c->setGeometry(x, y, 110, 24);
    c->setMaxVisibleItems(20);
    c->setToolTip(hint);
    return c;
}

} // namespace

// ---------------------------------------------------------------------------------------------

TSwitchList::TSwitchList(const QPixmap *open, const QPixmap *closed, QWidget *parent)
    : QComboBox(parent), open_(open), closed_(closed)
{
    addItems({QStringLiteral("ON"), QStringLiteral("OFF")});
    setItemDelegate(new SwitchDelegate(this));
}

void TSwitchList::drawItem(QPainter &p, const QRect &rect, int index, bool enabled, bool selected) const
{
    p.fillRect(rect, selected ? palette().color(QPalette::Highlight) : palette().color(QPalette::Base));
    if (!enabled || index < 0)
        return;
    p.setPen(selected ? palette().color(QPalette::HighlightedText) : palette().color(QPalette::Text));
    p.setFont(font());
    p.drawText(rect.left() + 1, rect.top() + 3 + QFontMetrics(font()).ascent(), itemText(index));
    p.drawPixmap(rect.left() + 22, rect.top(), index == 0 ? *open_ : *closed_);
}

void TSwitchList::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    option.currentText.clear();
    style()->drawComplexControl(QStyle::CC_ComboBox, &option, &p, this);
    const QRect field = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    drawItem(p, field, currentIndex(), isEnabled(), false);
}

// ---------------------------------------------------------------------------------------------

TCfgDialog::TCfgDialog(std::uint32_t availablePorts, QWidget *parent)
    : QDialog(parent), openSwitch_(switchPicture(false)), closedSwitch_(switchPicture(true))
{
    setObjectName(QStringLiteral("CfgDialog"));
    setWindowTitle(QStringLiteral("Einstellungen"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(610, 468);

    label(this, QStringLiteral("Bahnen:"), 16, 20, 70);
    seBahn = new TSpinEdit(this);
    seBahn->setObjectName(QStringLiteral("seBahn"));
    QFont bahnFont(QStringLiteral("MS Sans Serif"));
    bahnFont.setPixelSize(19);
    bahnFont.setBold(true);
    seBahn->setFont(bahnFont);
    seBahn->setMinValue(1);
    seBahn->setMaxValue(10);
    seBahn->setMaxLength(2);
    seBahn->setValue(8);
    seBahn->setGeometry(86, 14, 60, seBahn->MinHeight());

    rgTip = new QGroupBox(this);
    rgTip->setObjectName(QStringLiteral("rgTip"));
    rgTip->setGeometry(170, 6, 236, 62);
    rbHand = new QRadioButton(QStringLiteral("Handzeitnahme 1/10 s."), rgTip);
    rbHand->setGeometry(10, 8, 220, 22);
    rbElectronic = new QRadioButton(QStringLiteral("Elektronische  1/100 s."), rgTip);
    rbElectronic->setGeometry(10, 32, 220, 22);
    tipGroup_ = new QButtonGroup(this);
    tipGroup_->addButton(rbHand, 0);
    tipGroup_->addButton(rbElectronic, 1);

    label(this, QStringLiteral("Lichtschranke:"), 16, 86);
    cbPort1 = portList(this, "cbPort1", 126, 84, QStringLiteral("4+6 Start, 7+8 Stopp, 1+4 Stopp-Bahn1"));
    label(this, QStringLiteral("Start, Stopp Bahn 1"), 244, 86, 160);
    label(this, QStringLiteral("Ereignis bei:"), 16, 116);
    ComboBox1 = new TSwitchList(&openSwitch_, &closedSwitch_, this);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setGeometry(126, 114, 110, 24);
    cbOneLS = new QCheckBox(QStringLiteral("1 Ziel Lichtschranke"), this);
    cbOneLS->setObjectName(QStringLiteral("cbOneLS"));
    cbOneLS->setGeometry(244, 116, 170, 22);

    cbRoundUp = new QCheckBox(QStringLiteral("Zeiten nach Wettkampfregel aufrunden"), this);
    cbRoundUp->setObjectName(QStringLiteral("cbRoundUp"));
    cbRoundUp->setGeometry(16, 141, 390, 22);
    cbRoundUp->setToolTip(QStringLiteral("Endzeiten auf die nächste längere Hundertstel (Handzeit: Zehntel) "
                                         "aufrunden, wie die Wettkampfregeln es für Ergebnisse verlangen "
                                         "(10,231 wird 10,24); aus: abschneiden (10,23). Die laufende Uhr "
                                         "schneidet immer ab."));

    const QString laneHint = QStringLiteral("1+4, 4+6, 7+8");
    label(this, QStringLiteral("Lichtschranke:"), 16, 166);
    cbPort2 = portList(this, "cbPort2", 126, 164, laneHint);
    label(this, QStringLiteral("Stopp Bahn 2,3,4"), 244, 166, 160);
    label(this, QStringLiteral("Lichtschranke:"), 16, 196);
    cbPort3 = portList(this, "cbPort3", 126, 194, laneHint);
    label(this, QStringLiteral("Stopp Bahn 5,6,7"), 244, 196, 160);
    label(this, QStringLiteral("Lichtschranke:"), 16, 226);
    cbPort4 = portList(this, "cbPort4", 126, 224, laneHint);
    label(this, QStringLiteral("Stopp Bahn 8,9,10"), 244, 226, 160);
    for (QComboBox *c : {cbPort2, cbPort3, cbPort4})
        c->setEnabled(false);

    label(this, QStringLiteral("Ereignis bei:"), 16, 266);
    cbAlg = new TSwitchList(&openSwitch_, &closedSwitch_, this);
    cbAlg->setObjectName(QStringLiteral("cbAlg"));
    cbAlg->setGeometry(126, 264, 110, 24);

    cbLive = new QCheckBox(QStringLiteral("Live-Anzeige"), this);
    cbLive->setObjectName(QStringLiteral("cbLive"));
    cbLive->setGeometry(16, 297, 106, 22);
    cbLive->setToolTip(QStringLiteral("Ergebnisse im Browser: Port und Netzwerkadresse"));
    seLivePort = new TSpinEdit(this);
    seLivePort->setObjectName(QStringLiteral("seLivePort"));
    seLivePort->setMinValue(1);
    seLivePort->setMaxValue(65535);
    seLivePort->setMaxLength(5);
    seLivePort->setValue(8080);
    seLivePort->setGeometry(126, 296, 76, 24);
    seLivePort->setToolTip(QStringLiteral("Port der Live-Anzeige (Standard 8080)"));
    eLiveBind = new QLineEdit(this);
    eLiveBind->setObjectName(QStringLiteral("eLiveBind"));
    eLiveBind->setGeometry(244, 296, 162, 24);
    eLiveBind->setMaxLength(45);
    eLiveBind->setPlaceholderText(QStringLiteral("alle Netzwerke"));
    eLiveBind->setToolTip(QStringLiteral("Adresse der Live-Anzeige: leer = alle Netzwerke, "
                                         "127.0.0.1 = nur dieser Rechner"));
    // For the stands: the fan-out the desk publishes to, and the proxies in front of its own server.
    eLivePublish = new QLineEdit(this);
    label(this, QStringLiteral("Verteiler:"), 16, 328)->setBuddy(eLivePublish);
    eLivePublish->setObjectName(QStringLiteral("eLivePublish"));
    eLivePublish->setGeometry(126, 326, 280, 24);
    eLivePublish->setPlaceholderText(QStringLiteral("keiner, z. B. http://127.0.0.1/verteiler"));
    eLivePublish->setToolTip(QStringLiteral("Publisher-Adresse eines nginx mit nchan, der die Live-Anzeige an "
                                            "viele Zuschauer verteilt; leer = aus"));
    eLiveProxies = new QLineEdit(this);
    label(this, QStringLiteral("Proxys:"), 16, 358)->setBuddy(eLiveProxies);
    eLiveProxies->setObjectName(QStringLiteral("eLiveProxies"));
    eLiveProxies->setGeometry(126, 356, 280, 24);
    eLiveProxies->setPlaceholderText(QStringLiteral("keine"));
    eLiveProxies->setToolTip(QStringLiteral("Adressen vertrauenswürdiger Reverse-Proxys vor der Live-Anzeige, "
                                            "durch Komma getrennt: ihre Verbindungen zählen für den Zuschauer, "
                                            "den X-Forwarded-For nennt"));

    QLabel *resultLabel = label(this, QStringLiteral("Ergebnisordner:"), 16, 390);
    eResultFolder = new QLineEdit(this);
    eResultFolder->setObjectName(QStringLiteral("eResultFolder"));
    eResultFolder->setGeometry(126, 390, 244, 24);
    eResultFolder->setPlaceholderText(QStringLiteral("keiner"));
    eResultFolder->setToolTip(QStringLiteral("Nach jedem Eintragen schreibt das Pult den Lauf als .lif-Datei für "
                                             "das Wettkampfprogramm in diesen Ordner; leer = aus"));
    resultLabel->setBuddy(eResultFolder);
    bResultFolder = new QPushButton(QStringLiteral("…"), this);
    bResultFolder->setObjectName(QStringLiteral("bResultFolder"));
    bResultFolder->setGeometry(376, 390, 30, 24);
    bResultFolder->setToolTip(QStringLiteral("Ergebnisordner wählen"));
    bResultFolder->setAccessibleDescription(QStringLiteral("Ergebnisordner wählen"));
    connect(bResultFolder, &QPushButton::clicked, this, &TCfgDialog::bResultFolderClick);

    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    OKBtn->setGeometry(406, 426, 90, 30);
    OKBtn->setDefault(true);
    CancelBtn = new QPushButton(QStringLiteral("Abbrechen"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    CancelBtn->setGeometry(506, 426, 90, 30);
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(openSwitch_);
    Image1->setGeometry(0, 0, 41, 16);
    Image1->hide();
    Image2 = new QLabel(this);
    Image2->setObjectName(QStringLiteral("Image2"));
    Image2->setPixmap(closedSwitch_);
    Image2->setGeometry(0, 0, 41, 16);
    Image2->hide();

    // The lines of the ports as the desk has them open: what each carries, and its level.
    lblLines = label(this, QStringLiteral("Leitungen jetzt:"), 416, 60, 180);
    const int rowOf[] = {0, 84, 164, 194, 224};
    int column[] = {0, 0, 0, 0, 0};
    int step = 0; // the widest caption's room: "Bahn 10" in whatever font the system gives
    for (int i = 0; i < kWatchedLines; ++i) {
        const WatchedLine &w = WatchedLines()[static_cast<std::size_t>(i)];
        const QString caption = w.role == WatchedLine::Start ? QStringLiteral("Start")
                                : w.role == WatchedLine::Finish ? QStringLiteral("Ziel")
                                                                : QStringLiteral("Bahn %1").arg(w.lane);
        auto *lamp = new TLineLamp(caption, QString::fromUtf8(w.name), this);
        lamp->setObjectName(QStringLiteral("Lamp") + QString::fromUtf8(w.shortText));
        Lamps[static_cast<std::size_t>(i)] = lamp;
        step = std::max(step, lamp->NeededWidth() + 4);
    }
    for (int i = 0; i < kWatchedLines; ++i) {
        const WatchedLine &w = WatchedLines()[static_cast<std::size_t>(i)];
        Lamps[static_cast<std::size_t>(i)]->setGeometry(416 + step * column[w.port]++, rowOf[w.port], step - 2, 24);
    }
    // The dialog as wide as the lamps need, its buttons at its right edge.
    const int width = std::max(610, 416 + 3 * step + 8);
    setFixedSize(width, 468);
    OKBtn->move(width - 204, 426);
    CancelBtn->move(width - 104, 426);

    // The port lists: "keine", then every port found at start-up, once for the whole run.
    cbPort1->addItem(QStringLiteral("keine"));
    const std::uint32_t highest = availablePorts >> 16;
    for (std::uint32_t n = 1; n <= highest && n <= 16; ++n)
        if (availablePorts & (1u << (n - 1)))
            cbPort1->addItem(QStringLiteral("COM%1").arg(n));
    for (QComboBox *c : {cbPort2, cbPort3, cbPort4})
        for (int i = 0; i < cbPort1->count(); ++i)
            c->addItem(cbPort1->itemText(i));
    for (QComboBox *c : {cbPort1, cbPort2, cbPort3, cbPort4})
        connect(c, &QComboBox::currentIndexChanged, this, &TCfgDialog::cbPortChange);
}

int TCfgDialog::TipIndex() const
{
    return tipGroup_->checkedId();
}

void TCfgDialog::setTipIndex(int index)
{
    if (index < 0) {
        // No item: the group lets go of its checked button for a moment.
        tipGroup_->setExclusive(false);
        rbHand->setChecked(false);
        rbElectronic->setChecked(false);
        tipGroup_->setExclusive(true);
        return;
    }
    (index == 0 ? rbHand : rbElectronic)->setChecked(true);
}

QComboBox *TCfgDialog::PortList(int k) const
{
    switch (k) {
    case 1: return cbPort1;
    case 2: return cbPort2;
    case 3: return cbPort3;
    default: return cbPort4;
    }
}

int TCfgDialog::PortNumber(const QComboBox *list)
{
    if (list->currentIndex() <= 0)
        return 0;
    // The characters from the fourth on, at most three digits.
    return list->currentText().mid(3, 3).toInt();
}

void TCfgDialog::cbPortChange()
{
    cbAlg->setEnabled(cbPort1->currentIndex() > 0);
    for (QComboBox *c : {cbPort2, cbPort3, cbPort4})
        c->setEnabled(cbAlg->isEnabled());
}

void TCfgDialog::bResultFolderClick()
{
    QString folder = eResultFolder->text().trimmed();
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        folder = QDir::homePath();
    if (dialogs_ && dialogs_->chooseFolder(this, QStringLiteral("Ergebnisordner wählen"), folder))
        eResultFolder->setText(QDir::toNativeSeparators(folder));
}

void TCfgDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (parentWidget()) {
        const QRect owner = parentWidget()->frameGeometry();
        move(owner.center() - QPoint(width() / 2, height() / 2));
    }
    cbPortChange();
}

// ---------------------------------------------------------------------------------------------
// The settings command of the main window

void TFormMain::cmd_EinstellungenClick()
{
    if (!CfgDialog)
        return;
    TCfgDialog *dlg = CfgDialog;
    TComPort *ports[] = {nullptr, ComPort1, ComPort2, ComPort3, ComPort4};
    for (int k = 1; k <= 4; ++k) {
        QComboBox *list = dlg->PortList(k);
        const int found = list->findText(QStringLiteral("COM%1").arg(ports[k]->Port()));
        list->setCurrentIndex(ports[k]->Port() != 0 && found > 0 ? found : 0);
    }
    dlg->cbAlg->setEnabled(dlg->cbPort1->currentIndex() > 0);
    const meeting::Settings &settings = Model.settings();
    dlg->cbAlg->setCurrentIndex(settings.edge >= 0 && settings.edge < dlg->cbAlg->count() ? settings.edge : -1);
    dlg->seBahn->setValue(settings.lanes);
    dlg->setTipIndex(settings.accuracy <= 0 ? -1 : std::min(settings.accuracy - 1, 1));
    dlg->cbOneLS->setChecked(settings.oneBarrier);
    dlg->cbRoundUp->setChecked(settings.roundUp);
    dlg->cbPortChange(); // as on showing
    dlg->cbLive->setChecked(LiveSettings.On);
    dlg->seLivePort->setValue(LiveSettings.Port);
    dlg->eLiveBind->setText(LiveSettings.Bind);
    dlg->eLivePublish->setText(LiveSettings.PublishUrl);
    dlg->eLiveProxies->setText(LiveSettings.TrustedProxies);
    dlg->eResultFolder->setText(ResultFolder);
    dlg->setDialogs(&platform_.dialogs);
    ShowLineLamps(); // the dialog's lamps as the lines are now; edges keep them so while it is open
    auto liveOfDialog = [dlg] {
        return TLiveSettings{dlg->cbLive->isChecked(), dlg->seLivePort->clamp(dlg->seLivePort->Value()),
                             dlg->eLiveBind->text().trimmed(), dlg->eLivePublish->text().trimmed(),
                             dlg->eLiveProxies->text().trimmed()};
    };
    const TLiveSettings liveShown = liveOfDialog();

    if (platform_.dialogs.execModal(dlg) != QDialog::Accepted)
        return;

    Model.setOneBarrier(dlg->cbOneLS->isChecked());
    Model.setRoundUp(dlg->cbRoundUp->isChecked());
    Model.setAccuracy(dlg->TipIndex() + 1);
    // A lane count typed but not yet confirmed by leaving the field is held to the field's limits.
    Model.setLanes(dlg->seBahn->clamp(dlg->seBahn->Value()));
    sizeWindowHeight();

    // A port whose adapter is out stays lost if it is still wanted and still gone: its device is
    // taken up again when it returns, and the note stays.
    std::array<std::optional<std::pair<int, QString>>, 5> lostBefore{};
    for (int k = 1; k <= 4; ++k)
        if (ports[k]->Lost())
            lostBefore[static_cast<std::size_t>(k)] = std::pair(int{ports[k]->Port()}, Supervised[static_cast<std::size_t>(k)].identity);
    for (int k = 1; k <= 4; ++k) {
        try {
            ports[k]->Close();
        } catch (const std::exception &) {
        }
        ports[k]->setPort(0);
    }
    if (dlg->cbPort1->currentIndex() > 0) {
        if (dlg->cbAlg->currentIndex() >= 0) // no item chosen keeps the edge as it was
            Model.setEdge(dlg->cbAlg->currentIndex());
        ports[1]->setPort(static_cast<quint8>(TCfgDialog::PortNumber(dlg->cbPort1)));
        if (ports[1]->Port() > 0) {
            platform_.ticks.sleep(200);
            try {
                ports[1]->Open();
            } catch (const std::exception &) {
            }
        }
        for (int k = 2; k <= 4; ++k) {
            const int number = TCfgDialog::PortNumber(dlg->PortList(k));
            if (number <= 0)
                continue;
            ports[k]->setPort(static_cast<quint8>(number));
            try {
                ports[k]->Open();
            } catch (const std::exception &) {
            }
        }
    }
    for (int k = 1; k <= 4; ++k) {
        const auto &before = lostBefore[static_cast<std::size_t>(k)];
        if (!before || ports[k]->Connected() || ports[k]->Port() != before->first)
            continue;
        Supervised[static_cast<std::size_t>(k)].identity = before->second;
        ports[k]->MarkLost(ENODEV);
    }
    bResetClick();

    // The live view changes, and its settings are kept, only when the operator changed them here:
    // a choice of the command line ("--live") is for one run and stays where it is.
    const TLiveSettings live = liveOfDialog();
    if (live != liveShown) {
        LiveSettingsStored = live;
        LiveSettings = live;
        emit LiveSettingsChanged();
    }

    const QString folder = dlg->eResultFolder->text().trimmed();
    if (folder != ResultFolder) {
        ResultFolder = folder;
        const QFileInfo info(folder);
        if (!folder.isEmpty() && !(info.isDir() && info.isWritable()))
            platform_.dialogs.messageBox(
                this,
                QStringLiteral("Der Ergebnisordner \"%1\" ist nicht vorhanden oder nicht beschreibbar.\n\n"
                               "Die Läufe kommen erst dorthin, wenn er erreichbar ist; bis dahin meldet das Pult beim "
                               "Eintragen, dass die Ergebnisdatei nicht geschrieben werden konnte.")
                    .arg(QDir::toNativeSeparators(folder)),
                QGuiApplication::applicationDisplayName(), platform::MessageButtons::Ok, platform::MessageIcon::Warning);
    }
}
