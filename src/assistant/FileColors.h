#pragma once

#include <QColor>
#include <QPair>
#include <QString>

// The two gradient colours of a PDF card's thumbnail, picked by the file name so one file
// keeps its colours while the program runs.
namespace quorvel::FileColors {

// 0..7: the row of the colour-pair table for this file name.
int pairIndex(const QString &fileName);
QPair<QColor, QColor> pair(const QString &fileName);
QPair<QColor, QColor> pairAt(int index);

} // namespace quorvel::FileColors
