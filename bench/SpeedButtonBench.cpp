// Speed button benchmark: the time to draw one race-desk-sized face (163 x 38, bold Arial 27) in
// each style, which bounds the cost of a fade step, and the time to start and stop the fade thread.

#include "LbSpeedButton.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <chrono>
#include <cstdio>

namespace {

using Clock = std::chrono::steady_clock;

double usSince(Clock::time_point since)
{
    return std::chrono::duration<double, std::micro>(Clock::now() - since).count();
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const char *names[] = {"bsNormal", "bsEncarta", "bsModern", "bsOld", "bsShape", "bsQuicken"};
    QImage target(163, 38, QImage::Format_ARGB32_Premultiplied);
    const int rounds = 2000;
    for (int s = bsNormal; s <= bsQuicken; ++s) {
        TLbSpeedButton b;
        b.resize(163, 38);
        b.setStyle(TLbSpeedButtonStyle(s));
        QFont f(QStringLiteral("Arial"));
        f.setPixelSize(27);
        f.setBold(true);
        b.setFont(f);
        b.setAlignment(taCenter);
        b.setCaption(QStringLiteral("Eintragen"));
        b.setColor(QColor(0, 255, 0));
        b.setLightColor(QColor(0, 128, 0));
        b.setHotTrackColor(QColor(128, 128, 0));
        b.render(&target); // warm up glyph caches
        const auto start = Clock::now();
        for (int i = 0; i < rounds; ++i)
            b.render(&target);
        std::printf("%-10s face drawn in %7.1f us\n", names[s], usSince(start) / rounds);
    }
    TLbSpeedButton b;
    const int cycles = 200;
    const auto start = Clock::now();
    for (int i = 0; i < cycles; ++i) {
        b.setSlowDecease(true);
        b.setSlowDecease(false);
    }
    std::printf("fade thread started and stopped in %7.1f us\n", usSince(start) / cycles);
    return 0;
}
