#pragma once

#include <QString>

namespace quorvel {

// Where the service lives. The built-in origin (a build option) is overridden by
// QUORVEL_API_ORIGIN in the environment. A bearer token must never cross a network
// in clear, so plain HTTP is accepted only for a loopback host.
struct OriginResolution {
    QString origin;  // normalised, without trailing slash; empty when refused
    QString problem; // why the configured origin was refused; empty when accepted
};

OriginResolution resolveOrigin(const QString &configured);
// The origin in force now (environment, else built in).
OriginResolution currentOrigin();
QString builtInOrigin();

// The origin followed by "/api"; empty when the origin is refused, so that no
// request can be built from it.
QString apiBase();

} // namespace quorvel
