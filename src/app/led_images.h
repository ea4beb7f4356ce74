// The lamp pictures of the signal LEDs, drawn by code: 15×15, a lit and a dark one per kind.
// Every picture has the key colour in its bottom-left pixel and around the lamp, and nowhere
// else, so that colour becomes transparent when the LED paints it.
#pragma once

#include <QImage>

namespace veldar {

enum class TLedKind {
    lkRedLight,
    lkGreenLight,
    lkBlueLight,
    lkYellowLight,
    lkPurpleLight,
    lkBulb,
    lkCustom
};

// The picture of a kind; empty for lkCustom (its pictures come from the user).
// ratio: drawn that many times larger for a screen of that pixel ratio (the image says so).
QImage LedImage(TLedKind kind, bool lit, int ratio = 1);

// A copy where every pixel of the bottom-left pixel's colour is fully transparent.
QImage WithBottomLeftTransparent(const QImage& image);

} // namespace veldar
