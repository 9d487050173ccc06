#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace quorvel::server {

// httplib's server with its own connection handling. The library gives every
// connection a thread from the first byte to the last, so a hundred clients
// sending their headers slowly hold every thread. Here one thread waits for
// the headers of all connections; a worker thread is taken only once a whole
// header has arrived and passed its checks, and is given back between requests.
class HttpConnections : public httplib::Server {
public:
    struct Limits {
        int workers = 16;
        // A request's header must be complete this long after its first byte.
        std::chrono::milliseconds headerTimeout{10000};
        // An idle keep-alive connection is closed after this.
        std::chrono::milliseconds idleTimeout{5000};
        std::size_t maxHeaderBytes = 32 * 1024;
        int maxHeaderLines = 100;
        int maxConnections = 4000;
        // After a refused body: how long the rest is read and dropped so the
        // client still sees the answer.
        std::chrono::milliseconds lingerTimeout{2000};
    };
    using Refusal =
        std::function<void(const std::string &remote, int status, const std::string &why)>;
    using Answer = std::function<std::string(int status, const std::string &why)>;

    explicit HttpConnections(Limits limits);
    ~HttpConnections() override;

    // `answer` builds the body of an answer given before routing, `refused`
    // logs it; the access logger sees every routed request.
    void setHooks(Answer answer, Refusal refused, httplib::Logger accessLog);
    void widenBacklog();
    // The current request's Accept-Encoding. It is taken out of the request
    // before routing, so the library never compresses an answer itself.
    static const std::string &acceptEncoding();
    // When the current request's bytes reached this host: CLOCK_REALTIME
    // nanoseconds, or 0 when the kernel did not say.
    static std::int64_t receivedNs();
    // Serves until stop(); returns what the accept loop returned.
    bool run();

    struct Connection;

private:
    bool process_and_close_socket(socket_t sock) override;
    void pollLoop();
    void serve(Connection *conn);
    void toPoller(std::unique_ptr<Connection> conn);
    // Checks a buffered header's framing; 0, or the status to refuse it with.
    int admit(Connection &conn);
    // Whether a header (of `headerBytes` so far) has too many or too long lines.
    bool tooLarge(const std::string &buf, std::size_t headerBytes) const;
    // Answers 400, 408 or 431 before routing and closes once the client has it.
    void refuse(std::unique_ptr<Connection> conn, int status);
    void closeConnection(std::unique_ptr<Connection> conn);
    // Ends sending, then reads and drops what the client still sends for a
    // while, so it sees the answer instead of a reset.
    void linger(std::unique_ptr<Connection> conn);

    Limits m_limits;
    Answer m_answer;
    Refusal m_refused;
    int m_epoll = -1;
    int m_wake = -1;
    std::thread m_poller;
    std::unique_ptr<httplib::ThreadPool> m_workers;
    std::mutex m_mutex;
    bool m_stopping = false;
    std::map<int, std::unique_ptr<Connection>> m_waiting; // by fd, owned by the poller
    std::map<int, std::unique_ptr<Connection>> m_incoming;
    std::set<int> m_busy; // fds a worker is serving
    int m_open = 0;
};

} // namespace quorvel::server
