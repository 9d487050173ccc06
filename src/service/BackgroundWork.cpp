#include "service/BackgroundWork.h"

#ifdef Q_OS_LINUX
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace quorvel {

QThreadPool &backgroundPool() {
    static QThreadPool *pool = [] {
        auto *p = new QThreadPool;
        p->setObjectName(QStringLiteral("quorvel-background"));
        return p;
    }();
    return *pool;
}

void giveWayToTheWindow() {
#ifdef Q_OS_LINUX
    // Linux schedules threads by their own nice value; raising it needs no privilege.
    thread_local bool lowered = false;
    if (!lowered) {
        lowered = true;
        setpriority(PRIO_PROCESS, id_t(gettid()), 5);
    }
#endif
}

} // namespace quorvel
