// The status item's image where the tray shows no title: the title's leading unit in
// place of the moon, large enough to read.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>

#include "gui/tray/TrayIconImage.hpp"

namespace vesperon::gui {
namespace {

// The rows (top, bottom) holding ink within columns [from, to) of `image`.
std::pair<int, int> inkRows(const QImage& image, int from, int to) {
    int top = image.height(), bottom = -1;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = from; x < to; ++x) {
            if (qAlpha(image.pixel(x, y)) > 128) {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    return {top, bottom};
}

TEST(TrayIconImage, TheLeadingUnitOfTheTitleStandsInPlaceOfTheMoonAtReadableSize) {
    const struct {
        const char* title;
        const char* shortForm;
    } cases[] = {{" 5m", "5m"}, {" 45m", "45m"},     {" 1h 5m", "1h"},
                 {" 2h", "2h"}, {" 23h 59m", "23h"}, {" 24h", "24h"}};
    const Appearance appearance = Appearance::desktop();
    const QImage moon = statusImage(appearance, 22, QString(), Qt::black);
    ASSERT_GT(inkRows(moon, 0, 22).second, 0) << "the idle image shows the moon";
    for (const auto& c : cases) {
        EXPECT_EQ(leadingUnit(c.title), QString::fromLatin1(c.shortForm)) << c.title;
        for (const int pixels : {22, 32}) {
            const QImage image = statusImage(appearance, pixels, leadingUnit(c.title), Qt::black);
            ASSERT_EQ(image.size(), QSize(pixels, pixels));
            EXPECT_NE(image, moon) << c.title;
            // The digits, in the left part, stand at least 60 % of the height (a narrow
            // "1" may stand left of the middle); the unit letter is there on the right.
            const auto [top, bottom] = inkRows(image, 0, pixels * 6 / 10);
            EXPECT_GE(bottom - top + 1, 0.6 * pixels) << c.title << " at " << pixels;
            EXPECT_GE(inkRows(image, pixels * 3 / 4, pixels).second, 0) << c.title;
        }
    }
    EXPECT_EQ(leadingUnit(""), QString());
}

} // namespace
} // namespace vesperon::gui

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
