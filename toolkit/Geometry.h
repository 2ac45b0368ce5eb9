#pragma once

// Window layouts are given in twips: 1440 per inch, 15 per pixel at 96 dots per inch.

#include <QPoint>
#include <QRect>
#include <QSize>
#include <cmath>

namespace vorelta {

inline constexpr int kTwipsPerPixel = 15;

constexpr int TwipsToPixels(int twips) {
    return (twips + (twips >= 0 ? kTwipsPerPixel / 2 : -kTwipsPerPixel / 2)) / kTwipsPerPixel;
}

struct TwipsRect {
    int left;
    int top;
    int width;
    int height;

    QRect toPixels() const {
        return {TwipsToPixels(left), TwipsToPixels(top), TwipsToPixels(width),
                TwipsToPixels(height)};
    }
};

struct TwipsPoint {
    int x;
    int y;

    QPoint toPixels() const { return {TwipsToPixels(x), TwipsToPixels(y)}; }
};

struct TwipsSize {
    int width;
    int height;

    QSize toPixels() const { return {TwipsToPixels(width), TwipsToPixels(height)}; }
};

}  // namespace vorelta
