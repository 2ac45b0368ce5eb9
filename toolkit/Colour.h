#pragma once

// Colours are 24-bit values laid out 0x00BBGGRR.

#include <QColor>
#include <QPalette>
#include <QWidget>
#include <cstdint>

namespace vorelta {

using OleColour = std::uint32_t;

inline constexpr OleColour kRed = 0x000000FF;
inline constexpr OleColour kBlack = 0x00000000;
inline constexpr OleColour kWhite = 0x00FFFFFF;
inline constexpr OleColour kGrey = 0x00808080;
inline constexpr OleColour kDarkBlue = 0x00C00000;

inline QColor ToQColor(OleColour colour) {
    return QColor(int(colour & 0xFF), int((colour >> 8) & 0xFF), int((colour >> 16) & 0xFF));
}

inline OleColour FromQColor(const QColor& colour) {
    return OleColour(colour.red()) | OleColour(colour.green()) << 8 |
           OleColour(colour.blue()) << 16;
}

// The colour a widget draws its text in, held in its palette under `role`.
inline OleColour TextColourOf(const QWidget& widget, QPalette::ColorRole role) {
    return FromQColor(widget.palette().color(role));
}

inline void SetTextColour(QWidget& widget, QPalette::ColorRole role, OleColour colour) {
    QPalette palette = widget.palette();
    palette.setColor(role, ToQColor(colour));
    widget.setPalette(palette);
}

}  // namespace vorelta
