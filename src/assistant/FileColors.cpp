#include "FileColors.h"

#include <QHash>

#include <array>

namespace quorvel::FileColors {

namespace {
// The platform's named colours.
const QColor blue(0x00, 0x7a, 0xff);
const QColor teal(0x30, 0xb0, 0xc7);
const QColor purple(0xaf, 0x52, 0xde);
const QColor pink(0xff, 0x2d, 0x55);
const QColor orange(0xff, 0x95, 0x00);
const QColor yellow(0xff, 0xcc, 0x00);
const QColor green(0x34, 0xc7, 0x59);
const QColor mint(0x00, 0xc7, 0xbe);
const QColor indigo(0x58, 0x56, 0xd6);
const QColor red(0xff, 0x3b, 0x30);
} // namespace

QPair<QColor, QColor> pairAt(int index) {
    static const std::array<QPair<QColor, QColor>, 8> pairs{{
        {blue, teal},
        {purple, pink},
        {orange, yellow},
        {green, mint},
        {pink, purple},
        {teal, blue},
        {indigo, blue},
        {red, orange},
    }};
    return pairs.at(size_t(qBound(0, index, 7)));
}

int pairIndex(const QString &fileName) {
    // Unseeded, so the pair also stays the same from one run to the next.
    return int(qHash(fileName, 0) % 8);
}

QPair<QColor, QColor> pair(const QString &fileName) {
    return pairAt(pairIndex(fileName));
}

} // namespace quorvel::FileColors
