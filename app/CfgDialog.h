#pragma once
// The settings dialog: lane count, timing accuracy, the four serial ports, the edge on which a line
// change counts and the one-barrier mode.

#include "LineLamps.h"

#include <QComboBox>
#include <QDialog>

#include <array>

#include <cstdint>

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class TSpinEdit;
namespace platform {
class Dialogs;
}

// A drop-down list whose items "ON" and "OFF" are drawn with a switch picture.
class TSwitchList : public QComboBox {
    Q_OBJECT
public:
    TSwitchList(const QPixmap *open, const QPixmap *closed, QWidget *parent = nullptr);
    // Draws one item as the list draws it: the background, then (unless disabled) the text at
    // 1, 3 and the picture 22 pixels right of the left edge.
    void drawItem(QPainter &p, const QRect &rect, int index, bool enabled, bool selected) const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    const QPixmap *open_;
    const QPixmap *closed_;
};

class TCfgDialog : public QDialog {
    Q_OBJECT
public:
    // availablePorts: the mask built at start-up (bit n - 1 for COMn, the highest n above bit 15).
    TCfgDialog(std::uint32_t availablePorts, QWidget *parent = nullptr);

    TSpinEdit *seBahn;
    QGroupBox *rgTip;
    QRadioButton *rbHand;
    QRadioButton *rbElectronic;
    QComboBox *cbPort1;
    QComboBox *cbPort2;
    QComboBox *cbPort3;
    QComboBox *cbPort4;
    TSwitchList *ComboBox1;
    TSwitchList *cbAlg;
    QCheckBox *cbOneLS;
    QCheckBox *cbRoundUp; // "Zeiten nach Wettkampfregel aufrunden"
    // The live results view: on or off, its port and the address it binds to (empty: all).
    QCheckBox *cbLive;
    TSpinEdit *seLivePort;
    QLineEdit *eLiveBind;
    // The fan-out for the stands the desk publishes to (empty: none), and the reverse proxies whose
    // connections count for the client they name.
    QLineEdit *eLivePublish;
    QLineEdit *eLiveProxies;
    // The results folder for meet-management programs (empty: none) and its folder chooser "…".
    QLineEdit *eResultFolder;
    QPushButton *bResultFolder;
    QPushButton *OKBtn;
    QPushButton *CancelBtn;
    QLabel *Image1; // open switch, 41 x 16, hidden
    QLabel *Image2; // closed switch, 41 x 16, hidden
    // Beside each port's list: the level of every line it carries, as the desk's open ports have
    // them now (in the order of WatchedLines; the main window keeps them up to date).
    QLabel *lblLines;
    std::array<TLineLamp *, kWatchedLines> Lamps{};

    // The selected item of the accuracy group, -1 for none.
    int TipIndex() const;
    void setTipIndex(int index);
    QComboBox *PortList(int k) const;
    // The port number in a port list's selected text ("COM12" gives 12), 0 for "keine".
    static int PortNumber(const QComboBox *list);

    // cbAlg follows cbPort1, the other port lists follow cbAlg.
    void cbPortChange();
    // The folder chooser of the results folder goes through these dialogs.
    void setDialogs(platform::Dialogs *dialogs) { dialogs_ = dialogs; }
    void bResultFolderClick();

protected:
    void showEvent(QShowEvent *event) override;

private:
    QPixmap openSwitch_;
    QPixmap closedSwitch_;
    QButtonGroup *tipGroup_;
    platform::Dialogs *dialogs_ = nullptr;
};
