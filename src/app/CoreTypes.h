#pragma once

#include "conversion/PDFViewModel.h"

#include <QtQml/qqml.h>

namespace quorvel {

// The document view model, creatable in QML so the window owns it.
struct PDFViewModelForeign {
    Q_GADGET
    QML_FOREIGN(quorvel::PDFViewModel)
    QML_NAMED_ELEMENT(PDFViewModel)
};

struct ConversionTaskModelForeign {
    Q_GADGET
    QML_FOREIGN(quorvel::ConversionTaskModel)
    QML_ANONYMOUS
};

struct FilteredTaskModelForeign {
    Q_GADGET
    QML_FOREIGN(quorvel::FilteredTaskModel)
    QML_ANONYMOUS
};

} // namespace quorvel
