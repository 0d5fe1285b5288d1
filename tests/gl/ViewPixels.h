#pragma once

#include <QImage>
#include <QRect>

#include <cstdlib>

namespace qor::test {

// The rectangle of view pixels that differ from an empty view of the same size: what the
// model covers. Offscreen images of the view leave the view cube out.
inline QRect coveredPixels(const QImage& empty, const QImage& shown)
{
    QRect covered;
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
            const QRgb a = empty.pixel(x, y);
            const QRgb b = shown.pixel(x, y);
            const int difference = std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b))
                                   + std::abs(qBlue(a) - qBlue(b));
            if (difference > 30)
                covered |= QRect(x, y, 1, 1);
        }
    }
    return covered;
}

} // namespace qor::test
