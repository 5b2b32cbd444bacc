#include <gtest/gtest.h>

#include <QImage>
#include <vector>

#include "panel/widgets/title_picture.h"

namespace zp {
namespace {

constexpr QRgb kGrey = 0xFFBFBFBF;

bool Dark(const QImage& image, int x, int y) {
    return qGray(image.pixel(x, y)) < 64;
}
bool Grey(const QImage& image, int x, int y) {
    return image.pixel(x, y) == kGrey;
}

TEST(TitlePicture, SizeAndBackground) {
    TTitlePicture picture;
    EXPECT_EQ(picture.size(), QSize(97, 166));
    const QImage image = TTitlePicture::Picture();
    EXPECT_EQ(image.size(), QSize(97, 166));
    for (const QPoint p : {QPoint(0, 0), QPoint(96, 0), QPoint(0, 165), QPoint(96, 165)}) {
        EXPECT_TRUE(Grey(image, p.x(), p.y())) << p.x() << "," << p.y();
    }
    // The widget shows the picture as it is.
    EXPECT_EQ(picture.grab().toImage().convertToFormat(QImage::Format_RGB32), image);
}

TEST(TitlePicture, EachLineHasItsTextAndItsShape) {
    const QImage image = TTitlePicture::Picture();
    // Points as offsets into the shape's box: {dx, dy, dark?}.
    struct Probe {
        int dx, dy;
        bool dark;
    };
    const int s = TTitlePicture::ShapeRect(0).width() - 1;
    const int m = s / 2;
    const std::vector<Probe> probes[TTitlePicture::kLines] = {
        // circle: centre filled, corners empty
        {{m, m, true}, {1, 1, false}, {s - 1, s - 1, false}, {1, m, true}},
        // square: centre and corners filled
        {{m, m, true}, {1, 1, true}, {s - 1, s - 1, true}, {s - 1, 1, true}},
        // pointing left: tip at the left middle, broad at the right
        {{m, m, true}, {1, m, true}, {1, 1, false}, {s - 1, 1, true}, {s - 1, s - 1, true}},
        // pointing right
        {{m, m, true}, {s - 1, m, true}, {s - 1, 1, false}, {1, 1, true}, {1, s - 1, true}},
        // star: centre and top arm filled, the notch between the lower arms empty
        {{m, m, true}, {m, 2, true}, {1, 1, false}, {m, s - 1, false}, {s - 1, 1, false}},
    };
    for (int line = 0; line < TTitlePicture::kLines; ++line) {
        const QRect box = TTitlePicture::ShapeRect(line);
        for (const Probe& p : probes[line]) {
            const int x = box.left() + p.dx;
            const int y = box.top() + p.dy;
            if (p.dark) {
                EXPECT_TRUE(Dark(image, x, y)) << "line " << line << " at " << p.dx << "," << p.dy;
            } else {
                EXPECT_FALSE(Dark(image, x, y)) << "line " << line << " at " << p.dx << "," << p.dy;
            }
        }
        // Some text left of the shape, on the same line.
        int dark = 0;
        for (int y = box.top() - 4; y <= box.bottom() + 4; ++y) {
            for (int x = 0; x < box.left() - 2; ++x) {
                dark += Dark(image, x, y) ? 1 : 0;
            }
        }
        EXPECT_GT(dark, 40) << "line " << line;
    }
}

}  // namespace
}  // namespace zp
