#pragma once
// The watched lines of the serial ports as lamps: what each line carries (start contact, finish
// barrier, lane N) and its level as the last edge (or the read when its port opened) left it.

#include <QLabel>

#include <array>

// One modem-status line the desk watches: its port (1..4), the line (platform::EvCts, EvDsr,
// EvRlsd) and what it carries.
struct WatchedLine {
    enum Role { Start, Finish, Lane };
    int port;
    unsigned line;
    Role role;
    int lane;              // Lane: its lane number
    const char *shortText; // the lamp's caption in the main window's row: "Start", "Ziel", "3"
    const char *name;      // "Startkontakt", "Ziel-Lichtschranke", "Bahn 3"
};

inline constexpr int kWatchedLines = 12;
// Port 1: start contact (DSR), finish barrier (CTS), lane 1 (DCD); ports 2 to 4: three lanes each
// (DCD, DSR, CTS).
const std::array<WatchedLine, kWatchedLines> &WatchedLines();
// The index of a port's line in WatchedLines, -1 for a line nothing is wired to.
int WatchedLineIndex(int port, unsigned line);
// The index of lane n's line, -1 for a lane without one (11, 12).
int LaneLineIndex(int lane);

// A lamp with its caption: green clear, red interrupted (a start contact: given), grey while its
// port is closed, red with a white cross while its port's device is gone. The caption is the
// label's text; the lamp's meaning is in its tooltip and accessible description ("Bahn 3:
// unterbrochen"), so that it is not told by colour alone.
class TLineLamp : public QLabel {
    Q_OBJECT
public:
    enum class State { Closed, Clear, Interrupted, Lost };
    TLineLamp(const QString &caption, const QString &name, QWidget *parent = nullptr);

    State LampState() const { return state_; }
    // The lamp in a state; port names the port in the texts of a lost line ("COM5").
    void setLampState(State state, const QString &port = QString());
    // "Bahn 3: unterbrochen"
    QString StateText() const { return toolTip(); }
    QString Name() const { return name_; }
    // Room the caption needs beside the lamp.
    int NeededWidth() const;
    static constexpr int LampSize = 12;
    // The lamp's colour in a state.
    static QColor LampColour(State state);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString name_;
    State state_ = State::Closed;
    QString port_;
};
