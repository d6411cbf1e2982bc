// The main window: construction of its controls and menus, start-up, shut-down, the close
// question, help and information.

#include "FormMain.h"
#include "Workbook.h"

#include "Comms.h"
#include "DateTimePicker.h"
#include "Dmn_led.h"
#include "FileWriteQueue.h"
#include "FormInfo.h"
#include "HelpTopics.h"
#include "HighResTimer.h"
#include "Journal.h"
#include "Label3D.h"
#include "LbSpeedButton.h"
#include "Shape.h"
#include "SortGrid.h"
#include "SpinEdit.h"
#include "TimeText.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cmath>

namespace {

const QColor kWindowColour(154, 97, 90);
const QColor kPanelGreen(0, 128, 0);

QFont arial(int pixelSize, bool bold = false)
{
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    return f;
}

void setColours(QWidget *w, const QColor &background, const QColor &text)
{
    QPalette pal = w->palette();
    if (background.isValid()) {
        pal.setColor(QPalette::Window, background);
        w->setAutoFillBackground(true);
    }
    if (text.isValid()) {
        pal.setColor(QPalette::Active, QPalette::WindowText, text);
        pal.setColor(QPalette::Inactive, QPalette::WindowText, text);
    }
    w->setPalette(pal);
}

// The text colour of an edit field or combo box.
void setFieldText(QWidget *w, const QColor &text)
{
    QPalette pal = w->palette();
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive}) {
        pal.setColor(g, QPalette::Text, text);
        pal.setColor(g, QPalette::ButtonText, text);
        pal.setColor(g, QPalette::WindowText, text);
    }
    w->setPalette(pal);
}

template <typename T> T *named(T *w, const char *name)
{
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

QLabel *label(QWidget *parent, const char *name, const QString &text, const QRect &geometry,
              const QFont &font, const QColor &colour = Qt::white)
{
    auto *l = named(new QLabel(text, parent), name);
    l->setGeometry(geometry);
    l->setFont(font);
    setColours(l, QColor(), colour);
    return l;
}

QPushButton *topButton(QWidget *parent, const char *name, const QString &caption, const QRect &geometry,
                       QStyle::StandardPixmap picture)
{
    auto *b = named(new QPushButton(caption, parent), name);
    b->setGeometry(geometry);
    b->setFont(arial(24));
    b->setIcon(parent->style()->standardIcon(picture));
    b->setIconSize(QSize(22, 22));
    b->setFocusPolicy(Qt::TabFocus);
    QPalette pal = b->palette();
    pal.setColor(QPalette::ButtonText, Qt::black);
    b->setPalette(pal);
    return b;
}

struct SpeedButtonColours {
    QColor color, down, hot, light, shadow, font, hotFont;
};

TLbSpeedButton *speedButton(QWidget *parent, const char *name, const QString &caption, const QRect &geometry,
                            const SpeedButtonColours &c, const QString &hint)
{
    auto *b = named(new TLbSpeedButton(parent), name);
    b->setCaption(caption);
    b->setGeometry(geometry);
    b->setStyle(bsModern);
    b->setAlignment(taCenter);
    b->setFont(arial(27, true));
    b->setHotTrackFont(arial(27, true));
    b->setUseHotTrackFont(true);
    b->setColor(c.color);
    b->setColorWhenDown(c.down);
    b->setHotTrackColor(c.hot);
    b->setLightColor(c.light);
    b->setShadowColor(c.shadow);
    b->setFontColor(c.font);
    b->setHotTrackFontColor(c.hotFont);
    b->setToolTip(hint);
    return b;
}

// A button caption keeps its underlined letter but gives up its own shortcut: the same Alt key
// belongs to a menu command, and two owners of one key would make Qt fire neither.
void dropMnemonicShortcut(QAbstractButton *button)
{
    button->setShortcut(QKeySequence());
}

QPixmap speakerPicture(bool on)
{
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1.5));
    p.setBrush(QColor(40, 40, 40));
    const QPointF body[] = {{4, 12}, {10, 12}, {17, 5}, {17, 27}, {10, 20}, {4, 20}};
    p.drawPolygon(body, 6);
    p.setBrush(Qt::NoBrush);
    if (on) {
        p.setPen(QPen(QColor(0, 100, 0), 2.2));
        p.drawArc(QRectF(14, 10, 8, 12), -60 * 16, 120 * 16);
        p.drawArc(QRectF(14, 6, 14, 20), -60 * 16, 120 * 16);
    } else {
        p.setPen(QPen(Qt::red, 2.5));
        p.drawLine(QPointF(21, 11), QPointF(29, 21));
        p.drawLine(QPointF(29, 11), QPointF(21, 21));
    }
    return pm;
}

// Image 0 of the lane image list: a lane marker in perspective, a black trapezoid wider at the
// bottom with light grey top and right edges and a white digit one in its middle.
QPixmap laneMarker()
{
    QPixmap pm(42, 25);
    pm.fill(kWindowColour);
    QPainter p(&pm);
    const QPoint trapezoid[] = {{9, 1}, {32, 1}, {40, 24}, {1, 24}};
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawPolygon(trapezoid, 4);
    p.setPen(QColor(0xC0, 0xC0, 0xC0));
    p.drawLine(9, 1, 32, 1);
    p.drawLine(32, 1, 40, 24);
    p.setPen(Qt::white);
    p.setFont(arial(16, true));
    p.drawText(QRect(0, 3, 42, 20), Qt::AlignCenter, QStringLiteral("1"));
    return pm;
}

// The finish list draws its entries itself: one per lane-row height, the entry's rectangle filled
// with the list's brush (the selection colours for the selected entry), the text at left + 1,
// top + 1.
class FinishListDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter *p, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const bool selected = option.state & QStyle::State_Selected;
        const QPalette &pal = option.palette;
        p->fillRect(option.rect, selected ? pal.color(QPalette::Highlight) : pal.color(QPalette::Base));
        if (!(option.state & QStyle::State_Enabled))
            return;
        p->setFont(option.font);
        p->setPen(selected ? pal.color(QPalette::HighlightedText) : pal.color(QPalette::Text));
        const QFontMetrics fm(option.font);
        p->drawText(option.rect.left() + 1, option.rect.top() + 1 + fm.ascent(), index.data().toString());
    }
    QSize sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const override
    {
        return QSize(200, TFrameLine::RowHeight);
    }
};

} // namespace

// ---------------------------------------------------------------------------------------------

TFormMain::TFormMain(const platform::Platform &platform, const QString &programPath)
    : QWidget(nullptr), platform_(platform)
{
    ProgramPath = programPath.isEmpty() ? QCoreApplication::applicationFilePath() : programPath;
    buildControls();
    buildMenus();
    connectHandlers();
    FormCreate();
}

TFormMain::~TFormMain()
{
    qApp->removeEventFilter(this);
    FormDestroy();
}

int TFormMain::ClientHeightFor(int lanes) const
{
    return RowHeight * lanes + PanelTop->height() + LineLampsHeight + PanelBottom->height() - 3;
}

void TFormMain::buildControls()
{
    setObjectName(QStringLiteral("FormMain"));
    setWindowTitle(QStringLiteral("Zielkron 1.4"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    QFont windowFont(QStringLiteral("MS Sans Serif"));
    windowFont.setPointSize(8);
    setFont(windowFont);
    setColours(this, kWindowColour, Qt::white);
    setMinimumSize(1024, 200);

    Panel1 = named(new QWidget(this), "Panel1");
    setColours(Panel1, kWindowColour, QColor());

    // ---- top panel ----
    PanelTop = named(new QWidget(Panel1), "PanelTop");
    setColours(PanelTop, kPanelGreen, Qt::white);
    PanelTop->resize(1020, 120);

    bHilfe = topButton(PanelTop, "bHilfe", QStringLiteral("&Hilfe"), QRect(4, 5, 101, 33), QStyle::SP_DialogHelpButton);
    bCFG = topButton(PanelTop, "bCFG", QStringLiteral("&Einstellungen"), QRect(121, 5, 200, 33),
                     QStyle::SP_FileDialogDetailedView);
    bInfo = topButton(PanelTop, "bInfo", QStringLiteral("&Info"), QRect(336, 5, 89, 33),
                      QStyle::SP_MessageBoxInformation);
    bOpen = topButton(PanelTop, "bOpen", QStringLiteral("&Startliste"), QRect(468, 5, 157, 33),
                      QStyle::SP_DialogOpenButton);
    bOpen->setToolTip(QStringLiteral("Alt+O"));
    bSave = topButton(PanelTop, "bSave", QStringLiteral("E&xport"), QRect(640, 5, 137, 33), QStyle::SP_DialogSaveButton);
    bSave->setToolTip(QStringLiteral("Alt+X"));
    bSave->setLayoutDirection(Qt::RightToLeft); // picture right of the text
    for (QAbstractButton *b : {static_cast<QAbstractButton *>(bCFG), static_cast<QAbstractButton *>(bOpen),
                               static_cast<QAbstractButton *>(bSave)})
        dropMnemonicShortcut(b);

    PanelDate = named(new QLabel(QStringLiteral("00:00:00"), PanelTop), "PanelDate");
    PanelDate->setGeometry(884, 0, 136, 35);
    PanelDate->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    PanelDate->setAlignment(Qt::AlignCenter);
    PanelDate->setFont(arial(29));
    setColours(PanelDate, Qt::black, QColor(0xC0, 0xC0, 0xC0));

    LabelBest = label(PanelTop, "LabelBest", QString(), QRect(780, 5, 100, 33), arial(24));
    LabelBest->hide();

    lbl_Titel = label(PanelTop, "lbl_Titel", QStringLiteral("Titel:"), QRect(4, 44, 46, 26), arial(19));
    eTitle = named(new QLineEdit(QStringLiteral("Deutsche Meisterschaften"), PanelTop), "eTitle");
    eTitle->setGeometry(52, 42, 373, 30);
    eTitle->setFont(arial(19));
    setFieldText(eTitle, Qt::blue);
    lbl_am = label(PanelTop, "lbl_am", QStringLiteral("am"), QRect(434, 44, 28, 26), arial(19));
    DateTimePicker1 = named(new TDateTimePicker(PanelTop), "DateTimePicker1");
    DateTimePicker1->setGeometry(464, 42, 313, 30);
    DateTimePicker1->setFont(arial(19));
    setColours(DateTimePicker1, QColor(147, 180, 135), Qt::black);
    {
        QPalette pal = DateTimePicker1->edit->palette();
        pal.setColor(QPalette::Base, QColor(147, 180, 135));
        pal.setColor(QPalette::Text, Qt::black);
        DateTimePicker1->edit->setPalette(pal);
    }
    lbl_Wind = label(PanelTop, "lbl_Wind", QStringLiteral("Wind:"), QRect(824, 44, 54, 26), arial(21));
    sfWind = named(new TSpinFloatEdit(PanelTop), "sfWind");
    sfWind->setGeometry(880, 41, 89, 34);
    sfWind->setFont(arial(21));
    sfWind->setDialogs(&platform_.dialogs);
    sfWind->setDigits(1);
    sfWind->setMax(10.0);
    sfWind->setMin(-10.0);
    sfWind->setIncrement(0.5);
    sfWind->setValue(0.0);
    setFieldText(sfWind, Qt::black);
    lbl_ms = label(PanelTop, "lbl_ms", QStringLiteral("m/s"), QRect(974, 44, 44, 26), arial(21));

    // The heat bar above the closing line.
    PanelLauf = named(new QWidget(PanelTop), "PanelLauf");
    PanelLauf->setGeometry(0, 74, 1020, 42);
    setColours(PanelLauf, kPanelGreen, Qt::white);
    cmb_Lauf = named(new QComboBox(PanelLauf), "cmb_Lauf");
    cmb_Lauf->addItems({QStringLiteral("Vorlauf"), QStringLiteral("Endlauf")});
    cmb_Lauf->setGeometry(4, 4, 112, 34);
    cmb_Lauf->setFont(arial(21));
    seLauf = named(new TSpinEdit(PanelLauf), "seLauf");
    seLauf->setGeometry(120, 4, 66, 34);
    seLauf->setFont(arial(21));
    seLauf->setMinValue(1);
    seLauf->setMaxValue(100);
    seLauf->setValue(1);
    cmb_Disziplin = named(new QComboBox(PanelLauf), "cmb_Disziplin");
    cmb_Disziplin->setEditable(true);
    cmb_Disziplin->setInsertPolicy(QComboBox::NoInsert);
    cmb_Disziplin->setGeometry(190, 4, 393, 34);
    cmb_Disziplin->setFont(arial(24));
    cbKlassen = named(new QComboBox(PanelLauf), "cbKlassen");
    cbKlassen->setEditable(true);
    cbKlassen->setInsertPolicy(QComboBox::NoInsert);
    cbKlassen->setGeometry(587, 4, 185, 34);
    cbKlassen->setFont(arial(24));
    for (QWidget *w : {static_cast<QWidget *>(cmb_Lauf), static_cast<QWidget *>(seLauf),
                       static_cast<QWidget *>(cmb_Disziplin), static_cast<QWidget *>(cbKlassen)})
        setFieldText(w, Qt::blue);
    bProtokoll = speedButton(PanelLauf, "bProtokoll", QStringLiteral("Eintragen"), QRect(788, 3, 156, 35),
                             {QColor(166, 202, 240), QColor(0, 0, 128), QColor(200, 224, 255), QColor(0, 0, 128),
                              QColor(166, 202, 240), Qt::black, Qt::blue},
                             QStringLiteral("Alt+E"));
    bProtokoll->setEnabled(false);
    lbl_Platz = label(PanelLauf, "lbl_Platz", QStringLiteral("Platz"), QRect(944, 2, 72, 38), arial(27, true),
                      QColor(0, 255, 0));
    lbl_Platz->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    Shape0 = named(new TShape(PanelTop), "Shape0");
    Shape0->setGeometry(0, 116, 1020, 4);
    Shape0->setPenColor(QColor());
    Shape0->setBrushColor(Qt::white);

    // ---- lane panel ----
    PanelLines = named(new QWidget(Panel1), "PanelLines");
    setColours(PanelLines, kWindowColour, QColor());
    ImageListLine[0] = laneMarker();

    ListBoxStop = named(new QListWidget(PanelLines), "ListBoxStop");
    ListBoxStop->setGeometry(493, 0, 227, RowHeight * 8);
    ListBoxStop->setFont(arial(51));
    ListBoxStop->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    ListBoxStop->setLineWidth(1);
    ListBoxStop->setUniformItemSizes(true);
    ListBoxStop->setItemDelegate(new FinishListDelegate(ListBoxStop));
    ListBoxStop->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    {
        QPalette pal = ListBoxStop->palette();
        pal.setColor(QPalette::Base, QColor(255, 176, 176));
        pal.setColor(QPalette::Text, Qt::black);
        ListBoxStop->setPalette(pal);
    }
    ListBoxStop->hide();

    // ---- bottom panel ----
    PanelBottom = named(new QWidget(Panel1), "PanelBottom");
    setColours(PanelBottom, kPanelGreen, Qt::white);
    PanelBottom->resize(1020, 48);
    Shape10 = named(new TShape(PanelBottom), "Shape10");
    Shape10->setGeometry(0, 0, 1020, 4);
    Shape10->setPenColor(QColor());
    Shape10->setBrushColor(Qt::white);
    CheckBox_all = named(new QCheckBox(PanelBottom), "CheckBox_all");
    CheckBox_all->setGeometry(11, 6, 17, 17);
    CheckBox_all->setChecked(true);
    CheckBox_all->setToolTip(QStringLiteral("Ctrl+0"));
    CheckBox_all->hide();
    lbl_Alle = label(PanelBottom, "lbl_Alle", QStringLiteral("Alle"), QRect(8, 24, 30, 16), font());
    lbl_Alle->hide();

    bSound = named(new QToolButton(PanelBottom), "bSound");
    bSound->setGeometry(38, 6, 38, 38);
    bSound->setCheckable(true);
    bSound->setChecked(true);
    bSound->setFocusPolicy(Qt::NoFocus);
    bSound->setToolTip(QStringLiteral("Ctrl+S"));
    QIcon soundIcon;
    soundIcon.addPixmap(speakerPicture(true), QIcon::Normal, QIcon::On);
    soundIcon.addPixmap(speakerPicture(false), QIcon::Normal, QIcon::Off);
    bSound->setIcon(soundIcon);
    bSound->setIconSize(QSize(32, 32));

    cmd_Auf = named(new QPushButton(QStringLiteral("Auf die Plätze"), PanelBottom), "cmd_Auf");
    cmd_Auf->setGeometry(82, 7, 199, 38);
    cmd_Auf->setFont(arial(27, true));
    cmd_Auf->setToolTip(QStringLiteral("Alt+A"));
    cmd_Fertig = named(new QPushButton(QStringLiteral("Fertig"), PanelBottom), "cmd_Fertig");
    cmd_Fertig->setGeometry(296, 7, 105, 38);
    cmd_Fertig->setFont(arial(27, true));
    cmd_Fertig->setToolTip(QStringLiteral("Alt+F"));
    cmd_Fertig->setEnabled(false);
    for (QPushButton *b : {cmd_Auf, cmd_Fertig}) {
        b->setFocusPolicy(Qt::TabFocus);
        QPalette pal = b->palette();
        pal.setColor(QPalette::Active, QPalette::ButtonText, Qt::black);
        pal.setColor(QPalette::Inactive, QPalette::ButtonText, Qt::black);
        b->setPalette(pal);
    }

    // Shown while an open port's edges are stamped without real-time priority.
    RealtimeNote = label(PanelBottom, "RealtimeNote", QStringLiteral("Zeitnahme ohne Echtzeit-Vorrang"),
                         QRect(406, 6, 92, 38), arial(11, true));
    RealtimeNote->setWordWrap(true);
    RealtimeNote->setAlignment(Qt::AlignCenter);
    RealtimeNote->setAutoFillBackground(true);
    setColours(RealtimeNote, QColor(200, 0, 0), Qt::white);
    RealtimeNote->setToolTip(QStringLiteral(
        "Die Zeitnahme an den seriellen Eingängen läuft ohne Echtzeit-Vorrang: auf einem ausgelasteten "
        "Rechner können Start- und Zielzeiten um Millisekunden zu spät genommen werden.\n"
        "Abhilfe (einmalig, als Administrator): den Benutzer in die Gruppe zielkron aufnehmen "
        "(usermod -aG zielkron BENUTZER) und neu anmelden. Das installierte Paket bringt die Gruppe und ihr "
        "Echtzeit-Recht mit; ein selbst gebautes Pult braucht die Datei /etc/security/limits.d/zielkron.conf "
        "mit der Zeile \"@zielkron - rtprio 20\".\n"
        "Mehr dazu im Handbuch und in der README."));
    RealtimeNote->hide();

    LedStart = named(new TLed(PanelBottom), "LedStart");
    LedStart->setGeometry(502, 16, 16, 16);
    LedStart->setKind(lkGreen);
    LedStart->setShape(lsCircle);

    bStart = speedButton(PanelBottom, "bStart", QStringLiteral("START"), QRect(526, 7, 163, 38),
                         {QColor(0, 255, 0), QColor(0, 128, 0), QColor(128, 128, 0), QColor(0, 128, 0),
                          QColor(0, 255, 0), Qt::white, Qt::yellow},
                         QStringLiteral("Alt+L"));
    const SpeedButtonColours blackYellow{Qt::black, QColor(128, 128, 128), QColor(64, 64, 64), QColor(128, 128, 128),
                                         Qt::black, Qt::yellow, Qt::white};
    bFehlStart = speedButton(PanelBottom, "bFehlStart", QStringLiteral("Fehlstart"), QRect(0, 7, 163, 38),
                             blackYellow, QStringLiteral("Alt+0"));
    bReset = speedButton(PanelBottom, "bReset", QStringLiteral("0,00"), QRect(702, 7, 163, 38), blackYellow,
                         QStringLiteral("Alt+0"));
    bReset->hide();
    bStop = speedButton(PanelBottom, "bStop", QStringLiteral("STOPP"), QRect(868, 7, 150, 38),
                        {QColor(255, 0, 0), QColor(128, 0, 0), QColor(255, 96, 96), QColor(128, 0, 0),
                         QColor(255, 0, 0), Qt::white, Qt::yellow},
                        QStringLiteral("Alt+S"));
    for (TLbSpeedButton *b : {bStart, bFehlStart, bReset, bStop})
        b->setEnabled(false);

    // ---- the lamps of the lines, above the bottom panel ----
    buildLineLamps();

    // ---- results table, right of the desk, hidden ----
    SortGrid1 = named(new TSortGrid(this), "SortGrid1");
    SortGrid1->hide();
    SortGrid1->setDialogs(&platform_.dialogs);
    SortGrid1->setGeometry(1024, 0, 433, 354);
    {
        QFont gridFont(QStringLiteral("Arial"));
        gridFont.setPixelSize(11);
        SortGrid1->setFont(gridFont);
    }
    SortGrid1->SortOptions.CanSort = false;
    SortGrid1->SortOptions.SortStyle = ssNormal;
    SortGrid1->SortOptions.SortCaseSensitive = false;
    SortGrid1->SortOptions.SortCol = 0;
    SortGrid1->SortOptions.SortDirection = sdAscending;
    SortGrid1->SortOptions.UpdateOnSizeChange = false;
    SortGrid1->PrintOptions.Copies = 0;
    SortGrid1->setColCount(7);
    SortGrid1->setRowCount(13);
    SortGrid1->setFixedCols(0);
    SortGrid1->setDefaultRowHeight(20);

    // Calibrates on a thread of its own; the desk reads none of its values.
    HighResTimer1 = named(new THighResTimer(this), "HighResTimer1");
    HighResTimer1->setAccuracy(0);
    HighResTimer1->setResolution(10);
    HighResTimer1->setUseTSC(true);

    // ---- components without a window ----
    ComPort1 = named(new TComPort(this, &platform_.serial, &platform_.ticks), "ComPort1");
    ComPort2 = named(new TComPort(this, &platform_.serial, &platform_.ticks), "ComPort2");
    ComPort3 = named(new TComPort(this, &platform_.serial, &platform_.ticks), "ComPort3");
    ComPort4 = named(new TComPort(this, &platform_.serial, &platform_.ticks), "ComPort4");
    for (TComPort *port : {ComPort1, ComPort2, ComPort3, ComPort4}) {
        port->BaudRate = br9600;
        port->BaudRateUser = 28800;
        port->setPort(0);
        port->Parity = prNone;
        port->StopBits = sbOneStopBit;
        port->FlowControl = fcRtsCts;
        port->setDataBits(8);
        port->Events = (1u << evCTS) | (1u << evDSR) | (1u << evRLSD);
        port->EnableDTR = true;
        port->WriteBufSize = 64;
        port->ReadBufSize = 64;
    }

    Clock = named(new QTimer(this), "Clock");
    Clock->setInterval(10);
    Clock->setTimerType(Qt::PreciseTimer);
    TimerDate = named(new QTimer(this), "TimerDate");
    TimerDate->setInterval(333);
    TimerGesperrtLuchi = named(new QTimer(this), "TimerGesperrtLuchi");
    TimerGesperrtLuchi->setInterval(10);
    TimerGesperrtLuchi->setSingleShot(true);
    TimerGesperrtLuchi->setTimerType(Qt::PreciseTimer);
    TimerLineNote = named(new QTimer(this), "TimerLineNote");
    TimerLineNote->setInterval(6000);
    TimerLineNote->setSingleShot(true);

    SaveDialog1.DefaultExt = QStringLiteral("txt");

    PopupMenuNA = named(new QMenu(this), "PopupMenuNA");
    N11 = named(PopupMenuNA->addAction(QStringLiteral("1")), "N11");
    N21 = named(PopupMenuNA->addAction(QString()), "N21");
    N31 = named(PopupMenuNA->addAction(QString()), "N31");
    N41 = named(PopupMenuNA->addAction(QString()), "N41");
    int tag = 1;
    for (QAction *a : {N11, N21, N31, N41})
        a->setData(tag++);

    // ---- the twelve lane rows ----
    for (int n = 1; n <= LaneRows; ++n) {
        auto *row = new TFrameLine(n, PanelLines);
        row->move(0, (n - 1) * RowHeight);
        row->Image1->setPixmap(laneNumberPicture(n));
        row->ePlatz->setPopupMenu(PopupMenuNA);
        Lines[static_cast<std::size_t>(n)] = row;
    }
    ListBoxStop->raise();
}

QPixmap TFormMain::laneNumberPicture(int lane) const
{
    QPixmap pm = ImageListLine[0].copy();
    QPainter p(&pm);
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(16); // 12 pt at 96 dpi
    f.setBold(true);
    p.setFont(f);
    const QString text = QString::number(lane);
    const QFontMetrics fm(f);
    const int x = 18 - fm.horizontalAdvance(text) / 2;
    const QRect box(x, 6, fm.horizontalAdvance(text), fm.height());
    p.fillRect(box, Qt::white);
    p.setPen(Qt::black);
    p.drawText(box, Qt::AlignLeft | Qt::AlignTop, text);
    return pm;
}

void TFormMain::buildMenus()
{
    MainMenu1 = named(new QMenuBar(this), "MainMenu1");
    MainMenu1->hide();

    auto entry = [this](QMenu *menu, const QString &caption, const char *name, const QKeySequence &key) {
        QAction *a = menu->addAction(caption);
        a->setObjectName(QString::fromLatin1(name));
        a->setShortcut(key);
        a->setShortcutContext(Qt::WindowShortcut);
        // Actions inside the hidden menu bar fire no shortcut; the window's own copy does.
        addAction(a);
        return a;
    };

    Control1 = named(MainMenu1->addMenu(QStringLiteral("Control")), "Control1");
    Hilfe1 = entry(Control1, QStringLiteral("Hilfe"), "Hilfe1", ShortCutSequence(0x4048));
    Config1 = entry(Control1, QStringLiteral("Config"), "Config1", ShortCutSequence(0x4045));
    Info1 = entry(Control1, QStringLiteral("Info"), "Info1", ShortCutSequence(0x4049));
    Sound1 = entry(Control1, QStringLiteral("Sound"), "Sound1", ShortCutSequence(0x4053));
    Show1 = entry(Control1, QStringLiteral("Show"), "Show1", ShortCutSequence(0xC044));

    StopKeys1 = named(MainMenu1->addMenu(QStringLiteral("StopKeys")), "StopKeys1");
    False1 = entry(StopKeys1, QStringLiteral("False"), "False1", QKeySequence());
    False1->setEnabled(false);
    StopEntries[0] = False1;
    for (int n = 1; n <= LaneRows; ++n) {
        const QByteArray name = "Stop" + QByteArray::number(n) + "1";
        QAction *a = entry(StopKeys1, QStringLiteral("Stop %1").arg(n), name.constData(),
                           ShortCutSequence(0x70 + n - 1));
        a->setData(n);
        a->setEnabled(false);
        StopEntries[static_cast<std::size_t>(n)] = a;
    }

    StartKey1 = named(MainMenu1->addMenu(QStringLiteral("StartKey")), "StartKey1");
    mStart = entry(StartKey1, QStringLiteral("Start"), "mStart", ShortCutSequence(0x804C));
    mStop = entry(StartKey1, QStringLiteral("Stopp"), "mStop", ShortCutSequence(0x8053));
    mReset = entry(StartKey1, QStringLiteral("Reset"), "mReset", ShortCutSequence(0x8030));
    mEintragen = entry(StartKey1, QStringLiteral("Eintragen "), "mEintragen", ShortCutSequence(0x8045));
    mStartList = entry(StartKey1, QStringLiteral("StartList"), "mStartList", ShortCutSequence(0x804F));
    mExport = entry(StartKey1, QStringLiteral("Export"), "mExport", ShortCutSequence(0x8058));
    mPrint = entry(StartKey1, QStringLiteral("Drucken"), "mPrint", ShortCutSequence(0x4050));

    SetKeys1 = named(MainMenu1->addMenu(QStringLiteral("SetKeys")), "SetKeys1");
    mAllSet = entry(SetKeys1, QStringLiteral("All Set"), "mAllSet", ShortCutSequence(0x4030));
    SetEntries[0] = mAllSet;
    for (int n = 1; n <= LaneRows; ++n) {
        const QByteArray name = "Set" + QByteArray::number(n) + "1";
        QAction *a = entry(SetKeys1, QStringLiteral("Set %1").arg(n), name.constData(),
                           ShortCutSequence(0x4070 + n - 1));
        a->setData(n);
        SetEntries[static_cast<std::size_t>(n)] = a;
    }

    for (QMenu *m : {Control1, StopKeys1, StartKey1, SetKeys1})
        m->menuAction()->setVisible(false);
}

void TFormMain::connectHandlers()
{
    connect(bHilfe, &QPushButton::clicked, this, &TFormMain::bHelpClick);
    connect(Hilfe1, &QAction::triggered, this, &TFormMain::bHelpClick);
    connect(bInfo, &QPushButton::clicked, this, &TFormMain::bInfoClick);
    connect(Info1, &QAction::triggered, this, &TFormMain::bInfoClick);
    connect(bCFG, &QPushButton::clicked, this, &TFormMain::cmd_EinstellungenClick);
    connect(Config1, &QAction::triggered, this, &TFormMain::cmd_EinstellungenClick);
    connect(bOpen, &QPushButton::clicked, this, &TFormMain::bOpenClick);
    connect(mStartList, &QAction::triggered, this, &TFormMain::bOpenClick);
    connect(bSave, &QPushButton::clicked, this, &TFormMain::bSaveClick);
    connect(mExport, &QAction::triggered, this, &TFormMain::bSaveClick);
    connect(mPrint, &QAction::triggered, this, &TFormMain::PrintClick);
    connect(bProtokoll, &TLbSpeedButton::clicked, this, &TFormMain::bProtokollClick);
    connect(mEintragen, &QAction::triggered, this, &TFormMain::bProtokollClick);
    connect(Show1, &QAction::triggered, this, &TFormMain::Show1Click);
    connect(Sound1, &QAction::triggered, this, &TFormMain::Sound1Click);
    connect(bSound, &QToolButton::clicked, this, &TFormMain::bSoundClick);

    connect(bStart, &TLbSpeedButton::clicked, this, &TFormMain::bStart2Click);
    connect(mStart, &QAction::triggered, this, &TFormMain::bStart2Click);
    connect(bStop, &TLbSpeedButton::clicked, this, &TFormMain::bStopClick);
    connect(mStop, &QAction::triggered, this, &TFormMain::bStopClick);
    connect(bFehlStart, &TLbSpeedButton::clicked, this, &TFormMain::bFehlStartClick);
    connect(bReset, &TLbSpeedButton::clicked, this, &TFormMain::bResetClick);
    connect(mReset, &QAction::triggered, this, &TFormMain::bResetClick);
    connect(mAllSet, &QAction::triggered, this, &TFormMain::mAllSetClick);
    connect(CheckBox_all, &QCheckBox::toggled, this, &TFormMain::CheckBox_allClick);
    connect(cmd_Auf, &QPushButton::clicked, this, &TFormMain::cmd_AufClick);
    connect(cmd_Fertig, &QPushButton::clicked, this, &TFormMain::cmd_FertigClick);
    for (int n = 1; n <= LaneRows; ++n) {
        connect(StopEntry(n), &QAction::triggered, this, [this, n] { StopClick(n); });
        connect(SetEntry(n), &QAction::triggered, this, [this, n] { SetClick(n); });
        TFrameLine *row = Line(n);
        connect(row, &TFrameLine::StopKeyPressed, this, [this](int lane) { StopEntry(lane)->trigger(); });
        connect(row, &TFrameLine::OutToggled, &Model, &meeting::Meeting::toggleOut);
        connect(row->eNum, &QLineEdit::textChanged, this, [this, n](const QString &text) { Model.setNumber(n, text); });
        connect(row->eName, &QLineEdit::textChanged, this, [this, n](const QString &text) { Model.setName(n, text); });
        connect(row->cbON, &QCheckBox::toggled, this, [this, n](bool on) { Model.setOn(n, on); });
        connect(row, &TFrameLine::PlaceMenuTarget, this, [this](TFrameLine *r) { PopupMenuNATag = r->Tag(); });
    }
    for (QAction *a : {N11, N21, N31, N41})
        connect(a, &QAction::triggered, this, [this, a] { N11Click(a); });

    connect(Clock, &QTimer::timeout, this, &TFormMain::ClockTimer);
    connect(TimerDate, &QTimer::timeout, this, &TFormMain::TimerDateTimer);
    connect(TimerGesperrtLuchi, &QTimer::timeout, this, &TFormMain::TimerGesperrtLuchiTimer);

    for (TComPort *port : {ComPort1, ComPort2, ComPort3, ComPort4}) {
        connect(port, &TComPort::OnOpen, this, &TFormMain::ComPortOpen);
        connect(port, &TComPort::OnClose, this, &TFormMain::ComPortClose);
        connect(port, &TComPort::OnLost, this, &TFormMain::ComPortLost);
    }
    // The lines' supervision: the lamps follow the edge setting, the start marks and warns about
    // interrupted barriers, so does the call; the note of a port that came back goes by itself.
    connect(&Model, &meeting::Meeting::settingsChanged, this, &TFormMain::ShowLineLamps);
    connect(&Model, &meeting::Meeting::raceChanged, this, &TFormMain::RaceStateChanged);
    connect(cmd_Auf, &QPushButton::clicked, this, &TFormMain::WarnBlockedBarriers);
    connect(TimerLineNote, &QTimer::timeout, this, [this] {
        ReturnedPorts.clear();
        UpdateLineNote();
    });
    // Serial inputs: the start contact and the finish barrier on port 1, the lane lines on all
    // four, each taken with the time and direction of its edge.
    for (TComPort *port : {ComPort1, ComPort2, ComPort3, ComPort4})
        connect(port, &TComPort::OnLineEdge, this, &TFormMain::ComPortEdge);
    connect(seLauf, &TSpinEdit::OnChange, this, &TFormMain::seLaufChange);

    // What the operator types into the heat fields goes to the meeting as it is typed.
    connect(eTitle, &QLineEdit::textChanged, this, &TFormMain::TakeDeskFields);
    connect(cmb_Lauf, &QComboBox::currentTextChanged, this, &TFormMain::TakeDeskFields);
    for (QComboBox *box : {cmb_Disziplin, cbKlassen}) {
        connect(box, &QComboBox::currentTextChanged, this, &TFormMain::TakeDeskFields);
        connect(box, &QComboBox::editTextChanged, this, &TFormMain::TakeDeskFields);
    }
    connect(sfWind, &QLineEdit::textChanged, this, &TFormMain::TakeDeskFields);
    connect(DateTimePicker1, &TDateTimePicker::changed, this, &TFormMain::TakeDeskFields);
    // ... and the window shows what the meeting makes of its commands.
    connect(&Model, &meeting::Meeting::laneChanged, this, &TFormMain::ShowLane);

    qApp->installEventFilter(this);
}

void TFormMain::TakeDeskFields()
{
    Model.setTitle(eTitle->text());
    Model.setDate(DateTimePicker1->Date(), DateTimePicker1->Checked());
    Model.setHeatFields(cmb_Lauf->currentText(), cmb_Disziplin->currentText(), cbKlassen->currentText());
    Model.setWind(sfWind->text(), sfWind->Value(), lbl_ms->text());
}

void TFormMain::ShowLane(int lane)
{
    if (lane < 1 || lane > LaneRows)
        return;
    const meeting::DeskLane &l = Model.lane(lane);
    TFrameLine *row = Line(lane);
    if (row->eNum->text() != l.number)
        row->setStartNumber(l.number);
    if (row->eName->text() != l.name)
        row->eName->setText(l.name);
    row->eName->setToolTip(l.note);
    if (row->cbON->isChecked() != l.on)
        row->cbON->setChecked(l.on);
    TTimeLabel *time = row->LabelTime;
    time->setTag(l.laneTime);
    // A running lane's display belongs to the clock while the race runs.
    if (!(l.running && l.laneTime == 0 && Model.desk().state == meeting::RaceState::Running))
        time->setText(l.time.shown());
    time->setTransparent(!l.final);
    time->setVisible(!l.hidden);
    row->ePlatz->setCaption(l.place);
}

void TFormMain::layoutPanels()
{
    const int h = height();
    Panel1->setGeometry(0, 0, 1020, h);
    PanelTop->setGeometry(0, 0, 1020, 120);
    PanelBottom->setGeometry(0, h - 48, 1020, 48);
    PanelLineLamps->setGeometry(0, h - 48 - LineLampsHeight, 1020, LineLampsHeight);
    PanelLines->setGeometry(0, 120, 1020, std::max(0, h - 168 - LineLampsHeight));
}

void TFormMain::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutPanels();
}

void TFormMain::sizeWindow()
{
    setFixedSize(PanelTop->width(), ClientHeightFor(Model.lanes()));
    layoutPanels();
}

void TFormMain::sizeWindowHeight()
{
    // Only the height follows the lane count; a window widened by "Show" stays wide.
    setFixedSize(std::max(width(), PanelTop->width()), ClientHeightFor(Model.lanes()));
    layoutPanels();
}

void TFormMain::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (centred_)
        return;
    centred_ = true;
    if (const QScreen *screen = this->screen()) {
        const QRect area = screen->availableGeometry();
        const QRect frame = frameGeometry();
        move(area.center() - QPoint(frame.width() / 2, frame.height() / 2));
    }
}

// ---------------------------------------------------------------------------------------------
// Start-up

void TFormMain::readSettings()
{
    std::unique_ptr<platform::SettingsReader> key = platform_.settings.openForRead(ProgramName);
    if (!key)
        return;

    // Integers are read strictly: the first missing or mistyped value ends the reading, and every
    // later value keeps its default.
    auto integer = [&key](const char *name, auto apply) {
        const std::optional<std::int32_t> v = key->readInteger(QString::fromLatin1(name));
        if (!v)
            return false;
        apply(*v);
        return true;
    };
    const bool complete =
        integer("Left", [this](int v) { move(v, y()); })
        && integer("Top", [this](int v) { move(x(), v); })
        && integer("Height", [this](int v) { resize(width(), v); })
        && integer("Sound", [this](int v) { SoundOn = v != 0; })
        && integer("Port1", [this](int v) { ComPort1->setPort(static_cast<quint8>(v)); })
        && integer("Port2", [this](int v) { ComPort2->setPort(static_cast<quint8>(v)); })
        && integer("Port3", [this](int v) { ComPort3->setPort(static_cast<quint8>(v)); })
        && integer("Port4", [this](int v) { ComPort4->setPort(static_cast<quint8>(v)); })
        // A hand-edited value outside the settings' range is brought into it: an edge setting
        // other than 0 or 1 would silently keep every start and finish line from acting.
        && integer("Alg", [this](int v) { Model.setEdge(std::clamp(v, 0, 1)); })
        && integer("FilterInd", [this](int v) { SaveDialog1.FilterIndex = v; })
        && integer("Monitor", [this](int v) { MonitorNum = v; });
    if (!complete)
        return;
    eTitle->setText(key->readString(QStringLiteral("Title")).value_or(QString()));
    integer("LineCount", [this](int v) { Model.setLanes(std::clamp(v, 1, static_cast<int>(LaneRows))); })
        && integer("Accuracy", [this](int v) { Model.setAccuracy(std::clamp(v, 0, 2)); })
        && integer("OneLS", [this](int v) { Model.setOneBarrier(v != 0); })
        && integer("Wind", [this](int v) { sfWind->setValue(v / 10.0); })
        && integer("DataON", [this](int v) { DateTimePicker1->setChecked(v != 0); });
}

// The live view's values come after all others and are read each on its own, so that a store
// written before they existed reads exactly as before.
void TFormMain::readLiveSettings()
{
    std::unique_ptr<platform::SettingsReader> key = platform_.settings.openForRead(ProgramName);
    if (!key)
        return;
    TLiveSettings live;
    if (const auto on = key->readInteger(QStringLiteral("LiveOn")))
        live.On = *on != 0;
    if (const auto port = key->readInteger(QStringLiteral("LivePort")); port && *port >= 1 && *port <= 65535)
        live.Port = *port;
    live.Bind = key->readString(QStringLiteral("LiveBind")).value_or(QString()).trimmed();
    live.PublishUrl = key->readString(QStringLiteral("LivePublish")).value_or(QString()).trimmed();
    live.TrustedProxies = key->readString(QStringLiteral("LiveProxies")).value_or(QString()).trimmed();
    LiveSettings = live;
    LiveSettingsStored = live;
}

// Read on their own, as the live view's values: a store written before they existed reads as before.
void TFormMain::readResultFolder()
{
    if (std::unique_ptr<platform::SettingsReader> key = platform_.settings.openForRead(ProgramName)) {
        ResultFolder = key->readString(QStringLiteral("ResultFolder")).value_or(QString()).trimmed();
        Model.setRoundUp(key->readInteger(QStringLiteral("RoundUp")).value_or(0) != 0);
    }
}

void TFormMain::FormCreate()
{
    // 1. Lane count and today's date.
    Model.setLanes(8);
    DateTimePicker1->setDate(QDate::currentDate());

    // 2. Program name: keys the settings. The title of the desk's message boxes is its own name,
    // whatever the program file is called.
    const QFileInfo program(ProgramPath);
    ProgramName = program.completeBaseName();
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Zielkron"));
    // A second desk on the same journal goes no further: it reads no settings and opens no port.
    if (!ClaimJournal())
        return;

    // 3. File-type names of the dialogs.
    if (const auto text = platform_.fileTypes.textFiles()) {
        TextFileName = *text;
        if (const auto csv = platform_.fileTypes.csvFiles())
            CsvFileName = *csv;
    }

    // 4. Settings.
    readSettings();
    readLiveSettings();
    readResultFolder();

    // 5. Sound button.
    bSound->setChecked(SoundOn);

    // 6. The lane rows exist since construction, numbered, stacked and captioned.

    // 7. List files.
    LoadListFiles();

    // 8. Window size from the lane count.
    sizeWindow();

    // 9. The false-start button takes the place of the reset button.
    bFehlStart->move(bReset->pos());

    // 10. Ready state.
    bResetClick();

    // 11. Monitor number within the monitors present.
    const int monitors = static_cast<int>(QGuiApplication::screens().size());
    if (MonitorNum > monitors - 1)
        MonitorNum = monitors - 1;

    // 12. Dialog file types; the workbook types only where the spreadsheet application is registered.
    SpreadsheetPresent = platform_.spreadsheet.classRegistered(QStringLiteral("Excel.Application"));
    OpenDialog1.Filter = TextFileName + QStringLiteral(" (*.txt)|*.txt");
    SaveDialog1.Filter = OpenDialog1.Filter;
    if (SpreadsheetPresent) {
        OpenDialog1.Filter += QStringLiteral("|MS Excel (*.xlsx *.xls *.ods)|*.xlsx;*.xls;*.ods");
        SaveDialog1.Filter += QStringLiteral("|MS Excel (*.xlsx)|*.xlsx");
    }
    SaveDialog1.Filter += QStringLiteral("|") + CsvFileName + QStringLiteral(" (*.csv)|*.csv|");
    // Meet-management programs: start lists in, one result file per heat out.
    OpenDialog1.Filter += QStringLiteral("|Wettkampfdateien (*.evt *.ppl)|*.evt;*.ppl");
    SaveDialog1.Filter += QStringLiteral("Wettkampfdateien (*.lif)|*.lif|");
    // The PDF of the results lists comes last, so that a stored type index keeps its type.
    SaveDialog1.Filter += QStringLiteral("PDF-Dokument (*.pdf)|*.pdf|");

    // 13. Caption of the first call.
    cmd_Auf->setText(QStringLiteral("Auf die Plätze"));

    // 14. Help file beside the program; the desk's own manual serves where there is none.
    HelpFile = QDir(program.absolutePath()).filePath(program.completeBaseName() + QStringLiteral(".chm"));
    ManualFile = ManualFileFor(ProgramPath, platform_.data);

    // 15. Available serial ports.
    BuildAvailablePortMask();

    // 16. Export file name and start folders.
    SaveDialog1.FileName = ProgramName;
    SaveDialog1.InitialDir = program.absolutePath();
    OpenDialog1.InitialDir = program.absolutePath();

    // 17. Time of day.
    TimerDateTimer();
    TimerDate->start();

    // 18. Configured serial ports; a port that cannot be opened stays closed, silently. Devices
    // coming and going are told from now on: a port whose adapter is pulled out and put back is
    // opened again.
    QPointer<TFormMain> self(this);
    platform_.deviceMonitor.setHandler([self](const platform::DeviceChange &change) {
        if (self)
            self->DeviceChanged(change);
    });
    OpenConfiguredPorts();
}

void TFormMain::BuildAvailablePortMask()
{
    AvailablePorts = 0;
    for (int n = 1; n <= 16; ++n) {
        if (!platform_.serial.probe(n))
            continue;
        AvailablePorts |= 1u << (n - 1);
        AvailablePorts = (AvailablePorts & 0xFFFFu) | (static_cast<std::uint32_t>(n) << 16);
    }
}

void TFormMain::OpenConfiguredPorts()
{
    for (TComPort *port : {ComPort1, ComPort2, ComPort3, ComPort4}) {
        if (port->Port() == 0)
            continue;
        try {
            port->Open();
        } catch (const std::exception &) {
        }
    }
}

QString TFormMain::ManualFileFor(const QString &programPath, const platform::DataFolders &data)
{
    const QString page = QString::fromLatin1(ManualFolder) + QLatin1Char('/') + QString::fromLatin1(ManualPage);
    const QString beside = QDir(QFileInfo(programPath).absolutePath()).filePath(page);
    if (QFileInfo(beside).isFile() || data.installed().isEmpty())
        return beside;
    const QString installed = QDir(data.installed()).filePath(page);
    return QFileInfo(installed).isFile() ? installed : beside;
}

// ---------------------------------------------------------------------------------------------
// Shut-down

void TFormMain::FormDestroy()
{
    if (destroyed_ || !OwnsJournal())
        return;
    destroyed_ = true;
    TimerDate->stop();
    Clock->stop();

    if (std::unique_ptr<platform::SettingsWriter> key = platform_.settings.openForWrite(ProgramName)) {
        const QRect frame = frameGeometry();
        key->writeInteger(QStringLiteral("Left"), frame.x());
        key->writeInteger(QStringLiteral("Top"), frame.y());
        key->writeInteger(QStringLiteral("Width"), frame.width());
        key->writeInteger(QStringLiteral("Height"), frame.height());
        key->writeInteger(QStringLiteral("Port1"), ComPort1->Port());
        key->writeInteger(QStringLiteral("Port2"), ComPort2->Port());
        key->writeInteger(QStringLiteral("Port3"), ComPort3->Port());
        key->writeInteger(QStringLiteral("Port4"), ComPort4->Port());
        key->writeInteger(QStringLiteral("Alg"), Model.settings().edge);
        key->writeInteger(QStringLiteral("Sound"), SoundOn ? 1 : 0);
        key->writeInteger(QStringLiteral("FilterInd"), SaveDialog1.FilterIndex);
        key->writeInteger(QStringLiteral("Monitor"), MonitorNum);
        key->writeString(QStringLiteral("Title"), eTitle->text());
        key->writeInteger(QStringLiteral("LineCount"), Model.lanes());
        key->writeInteger(QStringLiteral("Accuracy"), Model.settings().accuracy);
        key->writeInteger(QStringLiteral("OneLS"), Model.settings().oneBarrier ? 1 : 0);
        key->writeInteger(QStringLiteral("Wind"), static_cast<std::int32_t>(std::lround(sfWind->Value() * 10.0)));
        key->writeInteger(QStringLiteral("DataON"), DateTimePicker1->Checked() ? 1 : 0);
        key->writeInteger(QStringLiteral("LiveOn"), LiveSettingsStored.On ? 1 : 0);
        key->writeInteger(QStringLiteral("LivePort"), LiveSettingsStored.Port);
        key->writeString(QStringLiteral("LiveBind"), LiveSettingsStored.Bind);
        key->writeString(QStringLiteral("LivePublish"), LiveSettingsStored.PublishUrl);
        key->writeString(QStringLiteral("LiveProxies"), LiveSettingsStored.TrustedProxies);
        key->writeString(QStringLiteral("ResultFolder"), ResultFolder);
        key->writeInteger(QStringLiteral("RoundUp"), Model.settings().roundUp ? 1 : 0);
        key->commit();
    }

    for (TComPort *port : {ComPort1, ComPort2, ComPort3, ComPort4}) {
        try {
            port->Close();
        } catch (const std::exception &) {
        }
    }
    // The result file and the journal of the last entry reach the disk before the program ends.
    resultFiles_.reset();
    journal_.reset();
}

bool TFormMain::FormCloseQuery()
{
    // The standard confirmation's caption, in German like its buttons.
    return platform_.dialogs.messageBox(this, QStringLiteral("Programm beenden?"), QStringLiteral("Bestätigen"),
                                        platform::MessageButtons::YesNo, platform::MessageIcon::Question)
           == platform::MbYes;
}

void TFormMain::closeEvent(QCloseEvent *event)
{
    if (FormCloseQuery() && JournalSafeToClose())
        event->accept();
    else
        event->ignore();
}

// ---------------------------------------------------------------------------------------------
// Help, information, "Show"

void TFormMain::bHelpClick()
{
    // The help file when it exists; otherwise the manual in the desk's help window, at its
    // contents; with neither, nothing.
    if (QFileInfo(HelpFile).isFile())
        platform_.help.showContents(HelpFile);
    else if (QFileInfo(ManualFile).isFile())
        platform_.help.showManual(this, ManualFile, QString::fromLatin1(help::ContentsAnchor));
}

void TFormMain::bInfoClick()
{
    if (FormInfo)
        platform_.dialogs.execModal(FormInfo);
}

void TFormMain::Show1Click()
{
    setFixedSize(PanelTop->width() + 350, height());
}
