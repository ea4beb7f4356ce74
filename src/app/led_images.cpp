#include "led_images.h"

#include <QColor>
#include <algorithm>
#include <cmath>

namespace veldar {

namespace {

constexpr int Size = 15;
// Magenta: no lamp colour below has a zero green part, so it never occurs inside a lamp.
constexpr QRgb KeyColour = 0xFFFF00FF;

struct LampColours {
    QColor lit;
    QColor dark;
};

LampColours ColoursOf(TLedKind kind) {
    switch (kind) {
    case TLedKind::lkRedLight:
        return {QColor(255, 40, 30), QColor(110, 20, 15)};
    case TLedKind::lkGreenLight:
        return {QColor(40, 230, 40), QColor(15, 90, 15)};
    case TLedKind::lkBlueLight:
        return {QColor(40, 110, 255), QColor(15, 40, 110)};
    case TLedKind::lkYellowLight:
        return {QColor(255, 225, 30), QColor(115, 100, 15)};
    case TLedKind::lkPurpleLight:
        return {QColor(200, 60, 240), QColor(85, 25, 100)};
    case TLedKind::lkBulb:
        return {QColor(255, 240, 140), QColor(150, 150, 125)};
    case TLedKind::lkCustom:
        break;
    }
    return {};
}

int Channel(double v) {
    return std::clamp(static_cast<int>(std::lround(v)), 0, 255);
}

// The colour scaled by factor, then moved toward white by highlight (0..1).
QRgb Shade(const QColor& c, double factor, double highlight) {
    auto part = [&](int v) { return Channel(v * factor + (255 - v * factor) * highlight); };
    return qRgb(part(c.red()), part(c.green()), part(c.blue()));
}

// A glass ball centred on (cx, cy), drawn ratio times larger: a darker rim, shading toward
// the bottom right and a highlight at the top left, stronger when lit. Pixel by pixel, with
// no smoothing against the key colour.
void DrawGlass(QImage& image, const QColor& colour, bool lit, double cx, double cy, double radius,
               int ratio) {
    cx *= ratio;
    cy *= ratio;
    radius *= ratio;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            double dx = x - cx, dy = y - cy;
            double r = std::hypot(dx, dy);
            if (r > radius) continue;
            if (r > radius - ratio) {
                image.setPixel(x, y, Shade(colour, 0.55, 0.0));
                continue;
            }
            double shade = 1.0 - 0.3 * (dx + dy + 2 * radius) / (4 * radius);
            double spot = std::hypot(x - (cx - 2 * ratio), y - (cy - 2 * ratio));
            double highlight = std::max(0.0, 1.0 - spot / (3.5 * ratio)) * (lit ? 0.85 : 0.45);
            image.setPixel(x, y, Shade(colour, shade, highlight));
        }
    }
}

// The screw base of the bulb: three thread rows and a contact tip.
void DrawBulbBase(QImage& image, int ratio) {
    const QRgb light = qRgb(170, 170, 170), dark = qRgb(110, 110, 110);
    auto dot = [&](int x, int y, QRgb colour) {
        for (int j = 0; j < ratio; ++j)
            for (int i = 0; i < ratio; ++i)
                image.setPixel(x * ratio + i, y * ratio + j, colour);
    };
    for (int y = 11; y <= 13; ++y)
        for (int x = 5; x <= 9; ++x)
            dot(x, y, y == 12 ? dark : light);
    for (int x = 6; x <= 8; ++x)
        dot(x, 14, qRgb(80, 80, 80));
}

} // namespace

QImage LedImage(TLedKind kind, bool lit, int ratio) {
    if (kind == TLedKind::lkCustom) return {};
    ratio = std::max(1, ratio);
    QImage image(Size * ratio, Size * ratio, QImage::Format_RGB32);
    image.fill(KeyColour);
    LampColours colours = ColoursOf(kind);
    const QColor& colour = lit ? colours.lit : colours.dark;
    if (kind == TLedKind::lkBulb) {
        DrawGlass(image, colour, lit, 7.0, 5.5, 5.6, ratio);
        DrawBulbBase(image, ratio);
    } else {
        DrawGlass(image, colour, lit, 7.0, 7.0, 6.6, ratio);
    }
    image.setDevicePixelRatio(ratio);
    return image;
}

QImage WithBottomLeftTransparent(const QImage& image) {
    if (image.isNull()) return image;
    QImage result = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb key = result.pixel(0, result.height() - 1) & RGB_MASK;
    for (int y = 0; y < result.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < result.width(); ++x)
            if ((line[x] & RGB_MASK) == key) line[x] = 0;
    }
    return result;
}

} // namespace veldar
