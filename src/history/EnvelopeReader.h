#pragma once

#include "service/WireRecords.h"

#include <QByteArray>

#include <optional>

namespace quorvel {

// The history envelope as the service normally writes it, read straight from the
// bytes into jobs without building a JSON document first: for a history of 100 000
// jobs that document costs more than the jobs themselves.
//
// The reader accepts only plain JSON whose meaning is beyond doubt (no duplicate keys,
// whole numbers of at most 18 digits, no surrogate escapes, nothing nested where no
// nesting is expected, ...) and whose every job decodes. For anything else it gives
// nothing and the general path decides, so its result is always the one the general
// path would reach. `bytes` must be valid UTF-8.
std::optional<ConversionHistoryResponse> readHistoryEnvelope(const QByteArray &bytes);

} // namespace quorvel
