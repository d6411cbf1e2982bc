#pragma once
// Reading PDFs back in tests with poppler's pdftotext (installed by "make test"): the text of each
// page as laid out, and the words with their boxes.

#include <QByteArray>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryFile>

#include <gtest/gtest.h>

namespace pdf {

struct Word {
    int page;
    double xMin, yMin, xMax, yMax;
    QString text;
};

inline QString run(const QStringList &arguments, const QByteArray &pdf)
{
    QTemporaryFile file;
    if (!file.open()) {
        ADD_FAILURE() << "no temporary file";
        return {};
    }
    file.write(pdf);
    file.flush();
    QProcess p;
    p.start(QStringLiteral("pdftotext"), QStringList(arguments) << file.fileName() << QStringLiteral("-"));
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        ADD_FAILURE() << "pdftotext failed (package poppler-utils; make test installs it): "
                      << p.readAllStandardError().toStdString();
        return {};
    }
    return QString::fromUtf8(p.readAllStandardOutput());
}

// The pages' texts as pdftotext -layout writes them.
inline QStringList pages(const QByteArray &pdf)
{
    QStringList out = run({QStringLiteral("-layout"), QStringLiteral("-enc"), QStringLiteral("UTF-8")}, pdf)
                          .split(QLatin1Char('\f'));
    if (!out.isEmpty() && out.last().trimmed().isEmpty())
        out.removeLast();
    return out;
}

// Every word with its box (points from the page's top left) and its page, from 0.
inline std::vector<Word> words(const QByteArray &pdf)
{
    const QString html = run({QStringLiteral("-bbox"), QStringLiteral("-enc"), QStringLiteral("UTF-8")}, pdf);
    static const QRegularExpression tag(QStringLiteral(
        R"re(<page |<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re"));
    std::vector<Word> out;
    int page = -1;
    for (auto it = tag.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        if (m.captured(0).startsWith(QLatin1String("<page"))) {
            ++page;
            continue;
        }
        QString text = m.captured(5);
        text.replace(QLatin1String("&amp;"), QLatin1String("&"));
        out.push_back({page, m.captured(1).toDouble(), m.captured(2).toDouble(), m.captured(3).toDouble(),
                       m.captured(4).toDouble(), text});
    }
    return out;
}

} // namespace pdf
