#include "HelpWindow.h"

#include "HelpTopics.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QStyle>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

constexpr int AnchorRole = Qt::UserRole;

QStringList anchorsOfBlock(const QTextBlock &block)
{
    QStringList names;
    for (auto it = block.begin(); !it.atEnd(); ++it)
        names << it.fragment().charFormat().anchorNames();
    return names;
}

} // namespace

THelpWindow::THelpWindow(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(QStringLiteral("Zielkron – Hilfe"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint
                   | Qt::WindowCloseButtonHint);
    setModal(false);
    resize(980, 720);

    auto button = [this](const QString &caption, const char *name, QStyle::StandardPixmap icon, const QString &hint) {
        auto *b = new QPushButton(style()->standardIcon(icon), caption, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setToolTip(hint);
        b->setAutoDefault(false);
        return b;
    };
    bBack = button(QStringLiteral("Zurück"), "bBack", QStyle::SP_ArrowBack, QStringLiteral("Alt+Links"));
    bForward = button(QStringLiteral("Vor"), "bForward", QStyle::SP_ArrowForward, QStringLiteral("Alt+Rechts"));
    bHome = button(QStringLiteral("Inhalt"), "bHome", QStyle::SP_DirHomeIcon, QStringLiteral("Zum Inhaltsverzeichnis"));
    bBack->setEnabled(false);
    bForward->setEnabled(false);

    auto *searchLabel = new QLabel(QStringLiteral("&Suchen:"), this);
    eSearch = new QLineEdit(this);
    eSearch->setObjectName(QStringLiteral("eSearch"));
    eSearch->setPlaceholderText(QStringLiteral("Wort im Text"));
    eSearch->setClearButtonEnabled(true);
    eSearch->setToolTip(QStringLiteral("Strg+F; Eingabe sucht weiter, Umschalt+Eingabe rückwärts"));
    searchLabel->setBuddy(eSearch);
    bFindNext = button(QStringLiteral("Weitersuchen"), "bFindNext", QStyle::SP_ArrowDown, QStringLiteral("F3"));
    lblFound = new QLabel(this);
    lblFound->setObjectName(QStringLiteral("lblFound"));
    lblFound->setMinimumWidth(110);

    auto *bar = new QHBoxLayout;
    bar->addWidget(bBack);
    bar->addWidget(bForward);
    bar->addWidget(bHome);
    bar->addSpacing(24);
    bar->addWidget(searchLabel);
    bar->addWidget(eSearch, 1);
    bar->addWidget(bFindNext);
    bar->addWidget(lblFound);

    tvContents = new QTreeWidget(this);
    tvContents->setObjectName(QStringLiteral("tvContents"));
    tvContents->setHeaderLabel(QStringLiteral("Inhalt"));
    tvContents->setRootIsDecorated(true);
    Browser = new QTextBrowser(this);
    Browser->setObjectName(QStringLiteral("Browser"));
    Browser->setOpenExternalLinks(true);
    Browser->setOpenLinks(true);

    auto *split = new QSplitter(Qt::Horizontal, this);
    split->addWidget(tvContents);
    split->addWidget(Browser);
    split->setStretchFactor(1, 1);
    split->setSizes({260, 720});

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(split, 1);

    connect(bBack, &QPushButton::clicked, Browser, &QTextBrowser::backward);
    connect(bForward, &QPushButton::clicked, Browser, &QTextBrowser::forward);
    connect(bHome, &QPushButton::clicked, this, [this] { ShowAnchor(QString::fromLatin1(help::ContentsAnchor)); });
    connect(Browser, &QTextBrowser::backwardAvailable, bBack, &QPushButton::setEnabled);
    connect(Browser, &QTextBrowser::forwardAvailable, bForward, &QPushButton::setEnabled);
    connect(Browser, &QTextBrowser::sourceChanged, this, [this](const QUrl &url) { markContentsEntry(url.fragment()); });
    connect(tvContents, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem *item) { ShowAnchor(item->data(0, AnchorRole).toString()); });
    connect(tvContents, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem *item) { ShowAnchor(item->data(0, AnchorRole).toString()); });
    connect(eSearch, &QLineEdit::returnPressed, this,
            [this] { FindNext(QGuiApplication::keyboardModifiers() & Qt::ShiftModifier); });
    connect(eSearch, &QLineEdit::textChanged, this, [this] { lblFound->clear(); eSearch->setStyleSheet(QString()); });
    connect(bFindNext, &QPushButton::clicked, this, [this] { FindNext(); });

    auto *find = new QShortcut(QKeySequence::Find, this);
    connect(find, &QShortcut::activated, this, [this] {
        eSearch->setFocus();
        eSearch->selectAll();
    });
    auto *next = new QShortcut(QKeySequence::FindNext, this);
    connect(next, &QShortcut::activated, this, [this] { FindNext(); });
    auto *previous = new QShortcut(QKeySequence::FindPrevious, this);
    connect(previous, &QShortcut::activated, this, [this] { FindNext(true); });
    auto *back = new QShortcut(QKeySequence::Back, this);
    connect(back, &QShortcut::activated, Browser, &QTextBrowser::backward);
    auto *forward = new QShortcut(QKeySequence::Forward, this);
    connect(forward, &QShortcut::activated, Browser, &QTextBrowser::forward);
}

bool THelpWindow::OpenManual(const QString &manualFile, const QString &anchor)
{
    const QFileInfo info(manualFile);
    if (!info.isFile())
        return false;
    const QString file = info.absoluteFilePath();
    if (file != manualFile_ || Browser->document()->isEmpty()) {
        manualFile_ = file;
        Browser->clearHistory();
        Browser->setSource(QUrl::fromLocalFile(file));
        Browser->clearHistory();
        buildContents();
    }
    ShowAnchor(anchor);
    return true;
}

void THelpWindow::ShowAnchor(const QString &anchor)
{
    if (manualFile_.isEmpty())
        return;
    QUrl url = QUrl::fromLocalFile(manualFile_);
    if (!anchor.isEmpty())
        url.setFragment(anchor);
    if (Browser->source() == url) {
        // Asked again for the page it shows: bring the anchor back into view.
        if (anchor.isEmpty())
            Browser->scrollToAnchor(QString());
        else
            Browser->scrollToAnchor(anchor);
    } else {
        Browser->setSource(url);
    }
    markContentsEntry(anchor);
}

QString THelpWindow::CurrentAnchor() const
{
    return Browser->source().fragment();
}

QStringList THelpWindow::Anchors() const
{
    QStringList names;
    for (QTextBlock block = Browser->document()->begin(); block.isValid(); block = block.next())
        for (const QString &name : anchorsOfBlock(block))
            if (!names.contains(name))
                names << name;
    return names;
}

void THelpWindow::buildContents()
{
    // The contents list follows the headings of the page: level 2 as chapters, level 3 beneath.
    tvContents->clear();
    QTreeWidgetItem *chapter = nullptr;
    for (QTextBlock block = Browser->document()->begin(); block.isValid(); block = block.next()) {
        const int level = block.blockFormat().headingLevel();
        if (level != 2 && level != 3)
            continue;
        const QStringList names = anchorsOfBlock(block);
        if (names.isEmpty())
            continue;
        QTreeWidgetItem *item = level == 2 || !chapter ? new QTreeWidgetItem(tvContents) : new QTreeWidgetItem(chapter);
        if (level == 2)
            chapter = item;
        item->setText(0, block.text().simplified());
        item->setData(0, AnchorRole, names.first());
    }
    tvContents->expandAll();
}

void THelpWindow::markContentsEntry(const QString &anchor)
{
    const QList<QTreeWidgetItem *> items =
        tvContents->findItems(QStringLiteral("*"), Qt::MatchWildcard | Qt::MatchRecursive);
    for (QTreeWidgetItem *item : items) {
        if (item->data(0, AnchorRole).toString() == anchor) {
            const QSignalBlocker block(tvContents);
            tvContents->setCurrentItem(item);
            tvContents->scrollToItem(item);
            return;
        }
    }
    tvContents->clearSelection();
}

bool THelpWindow::FindNext(bool backward)
{
    const QString text = eSearch->text();
    if (text.isEmpty()) {
        showFound(true);
        return false;
    }
    const QTextDocument::FindFlags flags = backward ? QTextDocument::FindBackward : QTextDocument::FindFlags();
    bool found = Browser->find(text, flags);
    if (!found) {
        // Past the end: once more from the other end of the page.
        QTextCursor cursor = Browser->textCursor();
        cursor.movePosition(backward ? QTextCursor::End : QTextCursor::Start);
        Browser->setTextCursor(cursor);
        found = Browser->find(text, flags);
    }
    showFound(found);
    return found;
}

void THelpWindow::showFound(bool found)
{
    lblFound->setText(found ? QString() : QStringLiteral("nicht gefunden"));
    eSearch->setStyleSheet(found ? QString() : QStringLiteral("background: #ffd0d0"));
}

// ---------------------------------------------------------------------------------------------

ManualHelpViewer::~ManualHelpViewer()
{
    if (window_ && !window_->parent())
        delete window_.data();
}

void ManualHelpViewer::showContents(const QString &helpFile)
{
    system_.showContents(helpFile);
}

void ManualHelpViewer::prepare(QWidget *parent, const QString &manualFile)
{
    if (!QFileInfo(manualFile).isFile() || (window_ && window_->isVisible()))
        return;
    if (!window_)
        window_ = new THelpWindow(parent);
    window_->OpenManual(manualFile, QString());
    // Shown once off the screen: styles, layout and the page's text layout are done now.
    window_->setAttribute(Qt::WA_DontShowOnScreen, true);
    window_->show();
    window_->hide();
    window_->setAttribute(Qt::WA_DontShowOnScreen, false);
}

void ManualHelpViewer::showManual(QWidget *parent, const QString &manualFile, const QString &anchor)
{
    if (!QFileInfo(manualFile).isFile())
        return;
    if (!window_)
        window_ = new THelpWindow(parent);
    window_->OpenManual(manualFile, anchor);
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void ManualHelpViewer::showKeyword(QWidget *parent, const QString &manualFile, const QString &keyword)
{
    showManual(parent, manualFile, help::anchorForKeyword(keyword));
}

void ManualHelpViewer::showContext(QWidget *parent, const QString &manualFile, int context)
{
    showManual(parent, manualFile, help::anchorForContext(context));
}
