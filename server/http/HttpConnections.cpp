#include "HttpConnections.h"

#include "HttpText.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string_view>
#include <strings.h>
#include <vector>

namespace quorvel::server {

using Clock = std::chrono::steady_clock;

// How long a worker waits for a keep-alive client's next request before
// giving the connection back to the header reader.
constexpr int kFollowUpMs = 50;

struct HttpConnections::Connection {
    int fd = -1;
    std::string buf;              // received, not yet handed to the library
    std::size_t headerEnd = 0;    // length of the admitted header within `buf`
    std::int64_t bodyLength = -1; // Content-Length of the admitted request; -1: chunked
    Clock::time_point deadline;
    bool lingering = false;
    std::size_t dropped = 0;
    std::size_t served = 0;
    std::string remote;
    int remotePort = 0;
    // When the bytes last added to `buf` reached this host (CLOCK_REALTIME
    // nanoseconds; 0: unknown). Whatever the buffer holds of the request being
    // served was sent no later than that.
    std::int64_t receivedNs = 0;

    ~Connection() {
        if (fd >= 0)
            ::close(fd);
    }
};

namespace {

// Filled by the access logger, read once the library has answered.
thread_local int t_status = 0;
thread_local bool t_closeRequested = false;
thread_local std::string t_acceptEncoding;
thread_local std::int64_t t_receivedNs = 0;

// recv() that also tells when the last of the bytes reached the host, from
// the time stamp the kernel put on them (SO_TIMESTAMPNS): a request waiting
// for a thread is dated by its arrival, not by when it was taken up.
ssize_t receive(int fd, char *buf, std::size_t size, std::int64_t &receivedNs) {
    iovec io{buf, size};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
    msghdr m{};
    m.msg_iov = &io;
    m.msg_iovlen = 1;
    m.msg_control = control;
    m.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(fd, &m, MSG_DONTWAIT);
    if (n <= 0)
        return n;
    receivedNs = 0;
    for (cmsghdr *c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c))
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
            timespec ts;
            std::memcpy(&ts, CMSG_DATA(c), sizeof ts);
            receivedNs = std::int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
        }
    return n;
}

// Handlers choose and cache their answers' encoding. Left in the request, the
// header would make the library compress every JSON answer again, each time,
// at its slowest setting.
void takeAcceptEncoding(httplib::Request &req) {
    t_acceptEncoding.clear();
    const auto [first, last] = req.headers.equal_range("Accept-Encoding");
    for (auto it = first; it != last; ++it) {
        if (!t_acceptEncoding.empty())
            t_acceptEncoding += ',';
        t_acceptEncoding += it->second;
    }
    req.headers.erase(first, last);
}

// The numeric address of a socket's other end (or its own, `local`).
std::string addressOf(int fd, int *port, bool local = false) {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    char host[NI_MAXHOST] = "";
    char serv[NI_MAXSERV] = "";
    auto *a = reinterpret_cast<sockaddr *>(&addr);
    if ((local ? ::getsockname(fd, a, &len) : ::getpeername(fd, a, &len)) == 0 &&
        ::getnameinfo(reinterpret_cast<sockaddr *>(&addr), len, host, sizeof host, serv,
                      sizeof serv, NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
        *port = std::atoi(serv);
        return host;
    }
    return "-";
}

// Clients may send an empty line between requests (after a body); it is not a request.
void skipEmptyLines(std::string &buf) {
    std::size_t n = 0;
    while (n < buf.size() && (buf[n] == '\r' || buf[n] == '\n'))
        ++n;
    buf.erase(0, n);
}

// The library's reads and writes on one connection; bytes the header reader
// received ahead are handed out first.
class Stream : public httplib::Stream {
public:
    Stream(HttpConnections::Connection &c, int readMs, int writeMs)
        : m_c(c)
        , m_readMs(readMs)
        , m_writeMs(writeMs) {}

    std::size_t delivered = 0;

    bool is_readable() const override {
        return delivered < m_c.buf.size() || wait(POLLIN, m_readMs);
    }
    bool is_writable() const override { return wait(POLLOUT, m_writeMs); }
    ssize_t read(char *ptr, size_t size) override {
        if (delivered < m_c.buf.size()) {
            const std::size_t n = std::min(size, m_c.buf.size() - delivered);
            std::memcpy(ptr, m_c.buf.data() + delivered, n);
            delivered += n;
            return ssize_t(n);
        }
        if (!wait(POLLIN, m_readMs))
            return -1;
        const ssize_t n = ::recv(m_c.fd, ptr, size, 0);
        if (n > 0)
            m_received += std::size_t(n);
        return n;
    }
    ssize_t write(const char *ptr, size_t size) override {
        if (!wait(POLLOUT, m_writeMs))
            return -1;
        return ::send(m_c.fd, ptr, size, MSG_NOSIGNAL);
    }
    void get_remote_ip_and_port(std::string &ip, int &port) const override {
        ip = m_c.remote;
        port = m_c.remotePort;
    }
    void get_local_ip_and_port(std::string &ip, int &port) const override {
        ip = addressOf(m_c.fd, &port, true);
    }
    socket_t socket() const override { return m_c.fd; }

    // Bytes of the request taken from the buffer and from the socket.
    std::size_t consumed() const { return delivered + m_received; }

private:
    bool wait(short events, int ms) const {
        pollfd p{m_c.fd, events, 0};
        int r;
        do
            r = ::poll(&p, 1, ms);
        while (r < 0 && errno == EINTR);
        return r > 0 && (p.revents & (events | POLLHUP | POLLERR));
    }

    HttpConnections::Connection &m_c;
    int m_readMs, m_writeMs;
    std::size_t m_received = 0;
};

} // namespace

HttpConnections::HttpConnections(Limits limits)
    : m_limits(limits) {
    // The library's own queue only hands each new connection to the header reader.
    new_task_queue = [] { return new httplib::ThreadPool(1); };
}

HttpConnections::~HttpConnections() {
    if (m_epoll >= 0)
        ::close(m_epoll);
    if (m_wake >= 0)
        ::close(m_wake);
}

void HttpConnections::setHooks(Answer answer, Refusal refused, httplib::Logger accessLog) {
    m_answer = std::move(answer);
    m_refused = std::move(refused);
    set_logger(
        [log = std::move(accessLog)](const httplib::Request &req, const httplib::Response &res) {
            t_status = res.status;
            t_closeRequested = res.get_header_value("Connection") == "close";
            if (log)
                log(req, res);
        });
}

void HttpConnections::widenBacklog() {
    const socket_t fd = svr_sock_;
    if (fd != INVALID_SOCKET)
        ::listen(fd, SOMAXCONN);
}

bool HttpConnections::run() {
    // Each waiting connection is a descriptor; allow as many as the system lets us.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY)
        m_limits.maxConnections = std::min<int>(m_limits.maxConnections, int(files.rlim_cur) - 64);

    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    m_wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_epoll < 0 || m_wake < 0)
        return false;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = m_wake;
    ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wake, &ev);
    {
        std::lock_guard lock(m_mutex);
        m_stopping = false;
    }
    m_workers = std::make_unique<httplib::ThreadPool>(std::size_t(std::max(1, m_limits.workers)));
    m_poller = std::thread([this] { pollLoop(); });

    const bool ok = listen_after_bind();

    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        // Requests in progress end at their next read or write.
        for (int fd : m_busy)
            ::shutdown(fd, SHUT_RDWR);
    }
    ::eventfd_write(m_wake, 1);
    m_poller.join();
    m_workers->shutdown();
    m_workers.reset();
    return ok;
}

bool HttpConnections::process_and_close_socket(socket_t sock) {
    auto conn = std::make_unique<Connection>();
    conn->fd = sock;
    const int on = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    conn->remote = addressOf(sock, &conn->remotePort);
    conn->deadline = Clock::now() + m_limits.headerTimeout;
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping || m_open >= m_limits.maxConnections)
            return false; // closed by the destructor
        ++m_open;
    }
    toPoller(std::move(conn));
    return true;
}

void HttpConnections::toPoller(std::unique_ptr<Connection> conn) {
    std::lock_guard lock(m_mutex);
    if (m_stopping) {
        --m_open;
        return;
    }
    const int fd = conn->fd;
    m_incoming.emplace(fd, std::move(conn));
    ::eventfd_write(m_wake, 1);
}

void HttpConnections::closeConnection(std::unique_ptr<Connection> conn) {
    conn.reset();
    std::lock_guard lock(m_mutex);
    --m_open;
}

void HttpConnections::refuse(std::unique_ptr<Connection> conn, int status) {
    const char *reason = status == 408   ? "Request Timeout"
                         : status == 431 ? "Request Header Fields Too Large"
                                         : "Bad Request";
    const std::string why = status == 408 ? "the request header did not arrive in time"
                            : status == 431
                                ? "the request header has too many or too long lines"
                                : "the request's Content-Length or Transfer-Encoding is malformed";
    const std::string body = m_answer ? m_answer(status, why) : why;
    const std::string text =
        "HTTP/1.1 " + std::to_string(status) + " " + reason +
        "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
        "\r\nConnection: close\r\n\r\n" + body;
    // Best effort: a client that does not read its answer does not get one.
    [[maybe_unused]] const auto n =
        ::send(conn->fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (m_refused)
        m_refused(conn->remote, status, why);
    linger(std::move(conn));
}

void HttpConnections::linger(std::unique_ptr<Connection> conn) {
    ::shutdown(conn->fd, SHUT_WR);
    conn->lingering = true;
    conn->buf.clear();
    conn->deadline = Clock::now() + m_limits.lingerTimeout;
    toPoller(std::move(conn));
}

bool HttpConnections::tooLarge(const std::string &buf, std::size_t headerBytes) const {
    const auto lines = std::count(buf.begin(), buf.begin() + long(headerBytes), '\n');
    return headerBytes > m_limits.maxHeaderBytes || lines > m_limits.maxHeaderLines + 1;
}

int HttpConnections::admit(Connection &c) {
    const std::string_view head(c.buf.data(), c.headerEnd);
    std::size_t lineStart = head.find('\n') + 1; // after the request line
    const std::string_view requestLine = head.substr(0, lineStart);
    const std::string_view method = requestLine.substr(0, requestLine.find(' '));
    std::string_view length;
    bool chunked = false, hasEncoding = false;
    while (lineStart < head.size()) {
        const std::size_t lineEnd = head.find('\n', lineStart);
        const std::string_view line = head.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;
        const std::string_view name = line.substr(0, colon);
        const std::string_view value = trim(line.substr(colon + 1));
        if (iequals(name, "Content-Length")) {
            const bool digits = !value.empty() && value.size() <= 18 &&
                                std::all_of(value.begin(), value.end(),
                                            [](char ch) { return ch >= '0' && ch <= '9'; });
            if (!digits || (!length.empty() && length != value))
                return 400;
            length = value;
        } else if (iequals(name, "Transfer-Encoding")) {
            hasEncoding = true;
            chunked = iequals(value, "chunked");
        }
    }
    if ((hasEncoding && !chunked) || (chunked && !length.empty()))
        return 400;
    c.bodyLength = chunked ? -1 : length.empty() ? 0 : std::stoll(std::string(length));
    if (!chunked && length.empty() &&
        (method == "POST" || method == "PUT" || method == "PATCH" || method == "DELETE")) {
        // Without a length the library would read the body until the client
        // closes; a request without one has none.
        c.buf.insert(c.headerEnd - 2, "Content-Length: 0\r\n");
        c.headerEnd += 19;
    }
    return 0;
}

void HttpConnections::pollLoop() {
    std::vector<epoll_event> events(256);
    char chunk[16 * 1024];
    const auto drop = [&](int fd) {
        ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
        auto it = m_waiting.find(fd);
        std::unique_ptr<Connection> c = std::move(it->second);
        m_waiting.erase(it);
        return c;
    };
    for (;;) {
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping)
                break;
            for (auto &[fd, conn] : m_incoming) {
                epoll_event ev{};
                ev.events = EPOLLIN | EPOLLRDHUP;
                ev.data.fd = fd;
                ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &ev);
                m_waiting.emplace(fd, std::move(conn));
            }
            m_incoming.clear();
        }
        const int n = ::epoll_wait(m_epoll, events.data(), int(events.size()), 250);
        for (int i = 0; i < n; ++i) {
            const int fd = events[size_t(i)].data.fd;
            if (fd == m_wake) {
                std::uint64_t v;
                [[maybe_unused]] const auto r = ::read(m_wake, &v, sizeof v);
                continue;
            }
            const auto it = m_waiting.find(fd);
            if (it == m_waiting.end())
                continue;
            Connection &c = *it->second;
            const ssize_t got = receive(fd, chunk, sizeof chunk, c.receivedNs);
            if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
                closeConnection(drop(fd));
                continue;
            }
            if (got < 0)
                continue;
            if (c.lingering) {
                c.dropped += std::size_t(got);
                if (c.dropped > std::size_t(8) * 1024 * 1024)
                    closeConnection(drop(fd));
                continue;
            }
            if (c.buf.empty())
                c.deadline = Clock::now() + m_limits.headerTimeout;
            const std::size_t from = c.buf.size() >= 2 ? c.buf.size() - 2 : 0;
            c.buf.append(chunk, std::size_t(got));
            skipEmptyLines(c.buf);
            const std::size_t end = c.buf.find("\n\r\n", from);
            const std::size_t headerBytes = end == std::string::npos ? c.buf.size() : end + 3;
            if (tooLarge(c.buf, headerBytes)) {
                refuse(drop(fd), 431);
                continue;
            }
            if (end == std::string::npos)
                continue;
            c.headerEnd = headerBytes;
            std::unique_ptr<Connection> ready = drop(fd);
            if (admit(*ready) != 0) {
                refuse(std::move(ready), 400);
                continue;
            }
            Connection *raw = ready.release();
            {
                std::lock_guard lock(m_mutex);
                m_busy.insert(raw->fd);
            }
            m_workers->enqueue([this, raw] { serve(raw); });
        }
        // Headers that take too long, idle keep-alive connections, and the
        // end of a lingering close.
        const auto now = Clock::now();
        std::vector<int> expired;
        for (const auto &[fd, conn] : m_waiting)
            if (conn->deadline <= now)
                expired.push_back(fd);
        for (int fd : expired) {
            std::unique_ptr<Connection> c = drop(fd);
            if (!c->lingering && !c->buf.empty())
                refuse(std::move(c), 408);
            else
                closeConnection(std::move(c));
        }
    }
    std::lock_guard lock(m_mutex);
    m_open -= int(m_waiting.size() + m_incoming.size());
    m_waiting.clear();
    m_incoming.clear();
}

const std::string &HttpConnections::acceptEncoding() {
    return t_acceptEncoding;
}

std::int64_t HttpConnections::receivedNs() {
    return t_receivedNs;
}

void HttpConnections::serve(Connection *raw) {
    std::unique_ptr<Connection> conn(raw);
    for (;;) {
        const bool stopping = [&] {
            std::lock_guard lock(m_mutex);
            return m_stopping;
        }();
        Stream stream(*conn, int(read_timeout_sec_ * 1000 + read_timeout_usec_ / 1000),
                      int(write_timeout_sec_ * 1000 + write_timeout_usec_ / 1000));
        bool closed = false;
        t_status = 0;
        t_closeRequested = false;
        t_receivedNs = conn->receivedNs;
        const bool lastOne = stopping || ++conn->served >= keep_alive_max_count_;
        const bool ok = process_request(stream, lastOne, closed, takeAcceptEncoding);
        const std::size_t expected =
            conn->bodyLength >= 0 ? conn->headerEnd + std::size_t(conn->bodyLength) : 0;
        // A body not read to its end would be taken for the next requests.
        const bool bodyLeft =
            conn->bodyLength >= 0 ? stream.consumed() < expected : t_status >= 400 || t_status == 0;
        {
            std::lock_guard lock(m_mutex);
            m_busy.erase(conn->fd);
        }
        if (!ok || closed || lastOne || t_closeRequested || bodyLeft) {
            if (ok && (t_closeRequested || bodyLeft))
                linger(std::move(conn));
            else
                closeConnection(std::move(conn));
            return;
        }
        conn->buf.erase(0, std::min(stream.delivered, conn->buf.size()));
        skipEmptyLines(conn->buf);
        conn->headerEnd = 0;
        std::size_t end = conn->buf.find("\n\r\n");
        if (end == std::string::npos) {
            // A busy keep-alive client sends its next request at once; taking it
            // here saves it the trip through the header reader.
            pollfd p{conn->fd, POLLIN, 0};
            if (::poll(&p, 1, kFollowUpMs) > 0) {
                char chunk[16 * 1024];
                const ssize_t got = receive(conn->fd, chunk, sizeof chunk, conn->receivedNs);
                if (got == 0) {
                    closeConnection(std::move(conn));
                    return;
                }
                if (got > 0) {
                    conn->buf.append(chunk, std::size_t(got));
                    skipEmptyLines(conn->buf);
                    end = conn->buf.find("\n\r\n");
                }
            }
        }
        const std::size_t headerBytes = end == std::string::npos ? conn->buf.size() : end + 3;
        if (tooLarge(conn->buf, headerBytes)) {
            refuse(std::move(conn), 431);
            return;
        }
        if (end == std::string::npos) {
            // Wait for the next request without holding this thread.
            conn->deadline =
                Clock::now() + (conn->buf.empty() ? m_limits.idleTimeout : m_limits.headerTimeout);
            toPoller(std::move(conn));
            return;
        }
        // A pipelined request arrived with the last one.
        conn->headerEnd = end + 3;
        if (admit(*conn) != 0) {
            refuse(std::move(conn), 400);
            return;
        }
        std::lock_guard lock(m_mutex);
        m_busy.insert(conn->fd);
    }
}

} // namespace quorvel::server
