#include "PgStore.h"
#include "SqliteStore.h"
#include "Store.h"

namespace quorvel::server {

std::unique_ptr<Store> openStore(const QString &databaseUrl, const QString &dataDir) {
    if (databaseUrl.isEmpty())
        return std::make_unique<SqliteStore>(dataDir + QStringLiteral("/quorvel.sqlite"));
    if (databaseUrl.startsWith(QLatin1String("postgresql://")) ||
        databaseUrl.startsWith(QLatin1String("postgres://")))
        return std::make_unique<PgStore>(databaseUrl);
    throw DatabaseError(
        "unsupported database URL: " + databaseUrl.section(u':', 0, 0).toStdString() +
        " (postgresql://… expected)");
}

} // namespace quorvel::server
