// Test entry: one application object of the desk's own kind for the whole run, offscreen, with a
// German default locale so that the decimal separator is ",", and with the fonts of
// tests/support/fonts.conf only, so that every machine draws the same glyphs.

#include "GuardedApplication.h"

#include <QApplication>
#include <QFileInfo>
#include <QLocale>

#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char **argv)
{
    // ZK_TEST_PLATFORM=xcb runs a test on an X server instead (under xvfb-run).
    qputenv("QT_QPA_PLATFORM", qEnvironmentVariableIsEmpty("ZK_TEST_PLATFORM") ? QByteArray("offscreen")
                                                                                : qgetenv("ZK_TEST_PLATFORM"));
    // Set before anything asks for a font: the pictures the tests compare do not depend on the
    // fonts or the font settings of the machine or the user.
    qputenv("FONTCONFIG_FILE", ZK_TEST_FONTCONFIG);
    if (!QFileInfo::exists(QStringLiteral(ZK_TEST_FONT)))
        std::fprintf(stderr, "The tests draw with %s (Debian package fonts-liberation), which is missing: "
                             "`make test` installs it.\n", ZK_TEST_FONT);
    platform::GuardedApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
