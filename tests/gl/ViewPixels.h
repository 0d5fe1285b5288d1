#pragma once

#include <QImage>
#include <QRect>

#include <cstdlib>

namespace qor::test {

// The rectangle of view pixels that differ from an empty view of the same size: what the
// model covers. Offscreen images of the view leave the view cube out.
inline bool pixelsDiffer(QRgb a, QRgb b)
{
    return std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b))
               + std::abs(qBlue(a) - qBlue(b))
           > 30;
}

inline QRect coveredPixels(const QImage& empty, const QImage& shown)
{
    QRect covered;
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
            if (pixelsDiffer(empty.pixel(x, y), shown.pixel(x, y)))
                covered |= QRect(x, y, 1, 1);
        }
    }
    return covered;
}

// How many pixels of two images of the same size differ visibly.
inline int changedPixels(const QImage& a, const QImage& b)
{
    int changed = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x)
            changed += pixelsDiffer(a.pixel(x, y), b.pixel(x, y)) ? 1 : 0;
    }
    return changed;
}

} // namespace qor::test
