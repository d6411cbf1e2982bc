#pragma once
// The desk's help window: the HTML manual in a text browser with a contents list, back and
// forward, and a search in the page. It is not modal, so the operator can keep it open beside the
// race desk.

#include "Platform.h"

#include <QDialog>
#include <QPointer>

class QLabel;
class QLineEdit;
class QPushButton;
class QTextBrowser;
class QTreeWidget;
class QTreeWidgetItem;

class THelpWindow : public QDialog {
    Q_OBJECT
public:
    explicit THelpWindow(QWidget *parent = nullptr);

    // Loads the manual unless it is the one shown and scrolls to the anchor (an empty anchor: the
    // top of the page). False, with nothing changed, when the file does not exist.
    bool OpenManual(const QString &manualFile, const QString &anchor);
    // Scrolls the loaded manual to an anchor and marks its entry in the contents list.
    void ShowAnchor(const QString &anchor);
    // Searches the page for the text of the search field from the cursor on, starting again at the
    // other end when it reaches the end; false when the page does not hold the text.
    bool FindNext(bool backward = false);

    QString ManualFile() const { return manualFile_; }
    // The anchor the page shows (the fragment of the browser's address).
    QString CurrentAnchor() const;
    // Every anchor of the loaded page, in page order.
    QStringList Anchors() const;

    QTreeWidget *tvContents;
    QTextBrowser *Browser;
    QPushButton *bBack;
    QPushButton *bForward;
    QPushButton *bHome;
    QLineEdit *eSearch;
    QPushButton *bFindNext;
    QLabel *lblFound;

private:
    void buildContents();
    void markContentsEntry(const QString &anchor);
    void showFound(bool found);

    QString manualFile_;
};

// Serves the desk's help requests: a compiled help file goes to the system's help service, the HTML
// manual to the desk's help window, created on first use as a child of the requesting window.
class ManualHelpViewer final : public platform::HelpViewer {
public:
    explicit ManualHelpViewer(platform::HelpViewer &system) : system_(system) {}
    ~ManualHelpViewer() override;

    void showContents(const QString &helpFile) override;
    void showManual(QWidget *parent, const QString &manualFile, const QString &anchor) override;
    // Creates the help window and loads the manual without showing it: called while nothing runs
    // (after start-up), so that a help request during a race only shows what is ready.
    void prepare(QWidget *parent, const QString &manualFile);
    // The help requests for a keyword and for a help context number, led to their topics.
    void showKeyword(QWidget *parent, const QString &manualFile, const QString &keyword);
    void showContext(QWidget *parent, const QString &manualFile, int context);

    THelpWindow *Window() const { return window_; }

private:
    platform::HelpViewer &system_;
    QPointer<THelpWindow> window_;
};
