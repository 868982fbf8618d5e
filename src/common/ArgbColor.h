#pragma once
// How the core holds a colour: ArgbColor, 32 bits 0xAARRGGBB. Alpha is the top byte
// (0xFF opaque, 0 transparent), then red, green and blue. It is the order of Qt's
// QRgb, so a widget turns it into a QColor with QColor::fromRgba(value) and nothing
// else; widgets themselves take and hand out QColor only. A stored setting kept in
// another byte order is converted where it is loaded and saved, nowhere else.

#include <cstdint>

using ArgbColor = uint32_t;
