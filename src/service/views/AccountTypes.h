#pragma once

#include "service/AuthManager.h"

#include <QtQml/qqml.h>

namespace quorvel {

// The account object, creatable in QML as `AuthManager` so the window owns it.
struct AuthManagerForeign {
    Q_GADGET
    QML_FOREIGN(quorvel::AuthManager)
    QML_NAMED_ELEMENT(AuthManager)
};

} // namespace quorvel

namespace quorvel {

// The signed-in user as QML reads it (`authManager.currentUser.email`).
struct UserForeign {
    Q_GADGET
    QML_FOREIGN(quorvel::User)
    QML_VALUE_TYPE(user)
};

} // namespace quorvel
