#include "service/LogCategories.h"

namespace quorvel {

Q_LOGGING_CATEGORY(lcHttp, "quorvel.http")
Q_LOGGING_CATEGORY(lcAuth, "quorvel.auth")
Q_LOGGING_CATEGORY(lcHistory, "quorvel.history")
Q_LOGGING_CATEGORY(lcConversion, "quorvel.conversion")
Q_LOGGING_CATEGORY(lcDownload, "quorvel.download")
Q_LOGGING_CATEGORY(lcUi, "quorvel.ui")

} // namespace quorvel
