// The desktop application as a user sees it: scripts/screenshot.sh starts build/bin/tavrix on a
// virtual X display with a document of four generated test cameras, activates them and saves the
// main window as a PNG. The picture must show the 2x2 grid: the live pictures (the colour bars of
// one camera among them), the panes' title bars, and the state badges: one camera recording (red),
// the others idle (green).

#include "TavrixBuildPaths.h"
#include <QColor>
#include <QImage>
#include <QRect>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

namespace {

int CountPixels(const QImage& image, bool (*match)(QRgb)) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            count += match(line[x]) ? 1 : 0;
        }
    }
    return count;
}

TEST(DesktopScreenshot, MainWindowShowsTheTwoByTwoGridWithOneCameraRecording) {
    const std::string output = std::string(TAVRIX_BINARY_DIR) + "/screenshot-test.png";
    const std::string command = std::string(TAVRIX_SOURCE_DIR) + "/scripts/screenshot.sh " +
                                TAVRIX_BINARY_DIR + "/bin/tavrix " + output + " > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;

    QImage picture(QString::fromStdString(output));
    ASSERT_FALSE(picture.isNull());
    picture = picture.convertToFormat(QImage::Format_RGB32);
    EXPECT_GE(picture.width(), 800);
    EXPECT_GE(picture.height(), 600);

    // The colour bars of the second camera: yellow, cyan and magenta appear nowhere else.
    const int yellow =
        CountPixels(picture, [](QRgb p) { return qRed(p) > 150 && qGreen(p) > 150 && qBlue(p) < 60; });
    const int cyan =
        CountPixels(picture, [](QRgb p) { return qRed(p) < 60 && qGreen(p) > 150 && qBlue(p) > 150; });
    const int magenta =
        CountPixels(picture, [](QRgb p) { return qRed(p) > 150 && qGreen(p) < 60 && qBlue(p) > 150; });
    EXPECT_GT(yellow, 500);
    EXPECT_GT(cyan, 500);
    EXPECT_GT(magenta, 500);
    // The title bars of the four panes.
    const int titles = CountPixels(picture, [](QRgb p) { return p == qRgb(40, 60, 90); });
    EXPECT_GT(titles, 4 * 150 * 10);
    // One red "Recording" badge, three green "Idle" ones.
    const int red = CountPixels(picture, [](QRgb p) { return p == qRgb(200, 30, 30); });
    const int green = CountPixels(picture, [](QRgb p) { return p == qRgb(40, 150, 60); });
    EXPECT_GT(red, 300);
    EXPECT_GT(green, 3 * 300);
    // Only one pane holds red: the grid's four quarters, split at the centre of the title bars.
    QRect bars;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            if (picture.pixel(x, y) == qRgb(40, 60, 90)) {
                bars |= QRect(x, y, 1, 1);
            }
        }
    }
    const QPoint centre = bars.center();
    int redQuarters = 0;
    for (const QRect& quarter :
         {QRect(QPoint(0, 0), centre), QRect(centre.x(), 0, picture.width(), centre.y()),
          QRect(0, centre.y(), centre.x(), picture.height()),
          QRect(centre, QPoint(picture.width(), picture.height()))}) {
        int count = 0;
        for (int y = quarter.top(); y < std::min(quarter.bottom(), picture.height()); ++y) {
            for (int x = quarter.left(); x < std::min(quarter.right(), picture.width()); ++x) {
                count += picture.pixel(x, y) == qRgb(200, 30, 30) ? 1 : 0;
            }
        }
        redQuarters += count > 300 ? 1 : 0;
    }
    EXPECT_EQ(redQuarters, 1) << "only one camera records";
}

} // namespace
