// Load figures for quorvel-server, driven from a second process over loopback.
//   server_bench uploads HOST PORT TOKEN SERVER_PID [COUNT] [MiB]
//       COUNT concurrent uploads of MiB each; prints successes, time and the
//       server's resident memory before, at its peak, and the growth.
//   server_bench latency HOST PORT TOKEN FILE TYP RUNS
//       upload + convert + poll until done, RUNS times in a row; prints each
//       job's latency and the median.
//   server_bench slow HOST PORT CONNECTIONS SECONDS
//       CONNECTIONS clients sending their headers slowly while a well-behaved
//       client asks /healthz; prints its answer times (target: all within 1 s).
//   server_bench logins HOST PORT SERVER_PID COUNT
//       COUNT failed logins at once; prints the answers and the server's peak
//       memory meanwhile (target < 300 MiB).
#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

long rssKiB(int pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

std::string jsonField(const std::string &body, const std::string &key) {
    const std::string k = "\"" + key + "\":";
    auto at = body.find(k);
    if (at == std::string::npos)
        return {};
    at += k.size();
    if (body[at] == '"') {
        const auto end = body.find('"', at + 1);
        return body.substr(at + 1, end - at - 1);
    }
    const auto end = body.find_first_of(",}", at);
    return body.substr(at, end - at);
}

int uploads(const std::string &host, int port, const std::string &token, int pid, int count,
            int mib) {
    const long before = rssKiB(pid);
    std::atomic<long> peak{before};
    std::atomic<bool> done{false};
    std::thread sampler([&] {
        while (!done) {
            peak = std::max(peak.load(), rssKiB(pid));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    std::atomic<int> ok{0}, failed{0};
    const auto start = Clock::now();
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i) {
        threads.emplace_back([&, i] {
            const std::string boundary = "BENCH-BOUNDARY-" + std::to_string(i);
            // A valid one-page PDF carrying MiB of filler in an unused stream object,
            // so the upload passes the service's content check like a real document.
            const size_t payload = size_t(mib) * 1024 * 1024;
            std::string pdfHead = "%PDF-1.4\n";
            std::vector<size_t> offsets;
            const char *objs[] = {"<< /Type /Catalog /Pages 2 0 R >>",
                                  "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                  "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>"};
            for (int o = 0; o < 3; ++o) {
                offsets.push_back(pdfHead.size());
                pdfHead += std::to_string(o + 1) + " 0 obj\n" + objs[o] + "\nendobj\n";
            }
            offsets.push_back(pdfHead.size());
            pdfHead += "4 0 obj\n<< /Length " + std::to_string(payload) + " >>\nstream\n";
            std::string pdfTail = "\nendstream\nendobj\n";
            const size_t xref = pdfHead.size() + payload + pdfTail.size();
            pdfTail += "xref\n0 5\n0000000000 65535 f \n";
            for (size_t off : offsets) {
                char line[32];
                std::snprintf(line, sizeof line, "%010zu 00000 n \n", off);
                pdfTail += line;
            }
            pdfTail += "trailer\n<< /Size 5 /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) +
                       "\n%%EOF\n";

            const std::string head =
                "\r\n--" + boundary +
                "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"big" +
                std::to_string(i) + ".pdf\"\r\nContent-Type: application/pdf\r\n\r\n" + pdfHead;
            const std::string tail = pdfTail + "\r\n--" + boundary + "--\r\n";
            const size_t total = head.size() + payload + tail.size();
            std::string block(64 * 1024, 'x');
            std::mt19937 rng{static_cast<unsigned>(i)};
            for (char &ch : block)
                ch = char('a' + rng() % 26);
            httplib::Client c(host, port);
            c.set_read_timeout(300);
            c.set_write_timeout(300);
            httplib::Headers h{{"Authorization", "Bearer " + token}};
            auto r = c.Post(
                "/api/v2/uploadfilepdf", h, total,
                [&](size_t offset, size_t length, httplib::DataSink &sink) {
                    size_t n = 0;
                    if (offset < head.size()) {
                        n = std::min(length, head.size() - offset);
                        sink.write(head.data() + offset, n);
                    } else if (offset < head.size() + payload) {
                        n = std::min({length, head.size() + payload - offset, block.size()});
                        sink.write(block.data(), n);
                    } else {
                        const size_t o = offset - head.size() - payload;
                        n = std::min(length, tail.size() - o);
                        sink.write(tail.data() + o, n);
                    }
                    return true;
                },
                "multipart/form-data; boundary=" + boundary);
            if (r && r->status == 200) {
                ++ok;
            } else {
                ++failed;
                std::fprintf(stderr, "upload %d: %s\n", i,
                             r ? ("status " + std::to_string(r->status) + " " + r->body).c_str()
                               : httplib::to_string(r.error()).c_str());
            }
        });
    }
    for (auto &t : threads)
        t.join();
    const double secs = std::chrono::duration<double>(Clock::now() - start).count();
    done = true;
    sampler.join();
    std::printf("uploads: %d x %d MiB concurrently: %d succeeded, %d failed, %.2f s, %.0f MiB/s\n",
                count, mib, ok.load(), failed.load(), secs, count * mib / secs);
    std::printf("server RSS: before %.1f MiB, peak %.1f MiB, growth %.1f MiB\n", before / 1024.0,
                peak / 1024.0, (peak - before) / 1024.0);
    return failed == 0 ? 0 : 1;
}

int latency(const std::string &host, int port, const std::string &token, const std::string &file,
            const std::string &typ, int runs) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string content = ss.str();
    const std::string name = file.substr(file.find_last_of('/') + 1);
    httplib::Client c(host, port);
    c.set_read_timeout(300);
    httplib::Headers h{{"Authorization", "Bearer " + token}};
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        const auto start = Clock::now();
        const std::string boundary = "LAT-" + std::to_string(run);
        // A distinct comment per run so every job converts afresh.
        const std::string body =
            "\r\n--" + boundary + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" +
            std::to_string(run) + name + "\"\r\nContent-Type: application/pdf\r\n\r\n" + content +
            "\r\n--" + boundary + "--\r\n";
        auto up = c.Post("/api/v2/uploadfilepdf", h, body,
                         ("multipart/form-data; boundary=" + boundary).c_str());
        if (!up || up->status != 200) {
            std::printf("upload failed: %d\n", up ? up->status : -1);
            return 1;
        }
        const std::string req =
            "{\n  \"source_file_md5\": \"" + jsonField(up->body, "source_file_md5") +
            "\",\n  \"typ\": \"" + typ + "\",\n  \"source_file_path\": \"" +
            jsonField(up->body, "source_file_path") + "\",\n  \"source_file_typ\": \"" +
            jsonField(up->body, "source_file_typ") +
            "\",\n  \"page_number\": 0,\n  \"status\": 0,\n  \"file_name\": \"" + name + "\"\n}";
        auto job = c.Post("/api/v1/tollan/convert", h, req, "application/json");
        if (!job || job->status != 200) {
            std::printf("convert failed: %d %s\n", job ? job->status : -1,
                        job ? job->body.c_str() : "");
            return 1;
        }
        const std::string id = jsonField(job->body, "id");
        std::string status = "0";
        while (status == "0") {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            auto s = c.Get("/api/v1/tollan/convert/" + id, h);
            status = s ? jsonField(s->body, "status") : "2";
        }
        auto dl = c.Get("/api/v2/docx?md5_id=" + id, h);
        const double secs = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf("%s job %d: status %s, %zu bytes, %.2f s\n", typ.c_str(), run + 1,
                    status.c_str(), dl ? dl->body.size() : 0, secs);
        if (status != "1")
            return 1;
        times.push_back(secs);
    }
    std::sort(times.begin(), times.end());
    std::printf("%s median over %d jobs: %.2f s (min %.2f, max %.2f)\n", typ.c_str(), runs,
                times[times.size() / 2], times.front(), times.back());
    return 0;
}

long statusKiB(int pid, const char *field) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind(field, 0) == 0)
            return std::strtol(line.c_str() + std::strlen(field), nullptr, 10);
    return -1;
}

int rawConnect(const std::string &host, int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    ::inet_pton(AF_INET, host.c_str(), &a.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// `count` connections send a header line every half second and never finish
// (reconnecting when dropped), while a well-behaved client asks /healthz on a
// fresh connection every 50 ms.
int slowClients(const std::string &host, int port, int count, int seconds) {
    std::vector<int> fds(size_t(count), -1);
    std::atomic<bool> done{false};
    std::atomic<long> reconnects{0};
    std::thread attacker([&] {
        std::vector<int> lines(fds.size(), 0);
        while (!done) {
            for (size_t i = 0; i < fds.size(); ++i) {
                if (fds[i] < 0) {
                    fds[i] = rawConnect(host, port);
                    lines[i] = 0;
                    if (fds[i] >= 0 &&
                        ::send(fds[i], "GET /healthz HTTP/1.1\r\n", 23, MSG_NOSIGNAL) != 23) {
                        ::close(fds[i]);
                        fds[i] = -1;
                    }
                    continue;
                }
                const std::string line = "X-Slow-" + std::to_string(lines[i]++) + ": 1\r\n";
                if (::send(fds[i], line.data(), line.size(), MSG_NOSIGNAL) !=
                    ssize_t(line.size())) {
                    ::close(fds[i]);
                    fds[i] = -1;
                    ++reconnects;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
    });
    std::this_thread::sleep_for(std::chrono::seconds(1)); // all of them connected
    std::vector<double> ms;
    int failed = 0;
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < end) {
        httplib::Client c(host, port);
        c.set_connection_timeout(5);
        c.set_read_timeout(5);
        const auto start = Clock::now();
        auto r = c.Get("/healthz");
        if (r && r->status == 200)
            ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        else
            ++failed;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    done = true;
    attacker.join();
    for (int fd : fds)
        if (fd >= 0)
            ::close(fd);
    std::sort(ms.begin(), ms.end());
    const auto within = std::count_if(ms.begin(), ms.end(), [](double v) { return v <= 1000; });
    std::printf("slow clients: %d connections sending a header line every 0.5 s for %d s "
                "(%ld dropped by the service and reopened)\n",
                count, seconds, reconnects.load());
    if (ms.empty()) {
        std::printf("well-behaved client: no answer (%d failed)\n", failed);
        return 1;
    }
    std::printf("well-behaved client: %zu answered, %d failed, %ld within 1 s; median %.1f ms, "
                "p99 %.1f ms, max %.1f ms\n",
                ms.size(), failed, long(within), ms[ms.size() / 2], ms[ms.size() * 99 / 100],
                ms.back());
    return failed == 0 && within == long(ms.size()) ? 0 : 1;
}

// `count` failed logins at once; the service's peak memory meanwhile.
int logins(const std::string &host, int port, int pid, int count) {
    const long before = statusKiB(pid, "VmRSS:");
    {
        // Peak memory from here on.
        std::ofstream reset("/proc/" + std::to_string(pid) + "/clear_refs");
        reset << "5";
    }
    std::atomic<int> refused{0}, busy{0}, other{0};
    const auto start = Clock::now();
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i)
        threads.emplace_back([&, i] {
            httplib::Client c(host, port);
            c.set_read_timeout(60);
            const std::string body = "{\"email\":\"nobody" + std::to_string(i) +
                                     "@example.org\",\"password\":\"wrong\"}";
            auto r = c.Post("/api/v1/tollan/auth/login", body, "application/json");
            const int st = r ? r->status : -1;
            (st == 401 ? refused : st == 503 ? busy : other)++;
        });
    for (auto &t : threads)
        t.join();
    const double secs = std::chrono::duration<double>(Clock::now() - start).count();
    const long peak = statusKiB(pid, "VmHWM:");
    std::printf("logins: %d failed logins at once: %d refused (401), %d told to retry (503), "
                "%d other, %.2f s\n",
                count, refused.load(), busy.load(), other.load(), secs);
    std::printf("server memory: RSS before %.1f MiB, peak during the logins %.1f MiB "
                "(target < 300 MiB)\n",
                before / 1024.0, peak / 1024.0);
    return other == 0 && peak < 300 * 1024 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv) {
    const std::vector<std::string> a(argv + 1, argv + argc);
    if (a.size() >= 4 && a[0] == "uploads" && a.size() >= 5)
        return uploads(a[1], std::stoi(a[2]), a[3], std::stoi(a[4]),
                       a.size() > 5 ? std::stoi(a[5]) : 50, a.size() > 6 ? std::stoi(a[6]) : 20);
    if (a.size() == 7 && a[0] == "latency")
        return latency(a[1], std::stoi(a[2]), a[3], a[4], a[5], std::stoi(a[6]));
    if (a.size() == 5 && a[0] == "slow")
        return slowClients(a[1], std::stoi(a[2]), std::stoi(a[3]), std::stoi(a[4]));
    if (a.size() == 5 && a[0] == "logins")
        return logins(a[1], std::stoi(a[2]), std::stoi(a[3]), std::stoi(a[4]));
    std::fprintf(stderr, "usage: server_bench uploads HOST PORT TOKEN SERVER_PID [COUNT] [MiB]\n"
                         "       server_bench latency HOST PORT TOKEN FILE TYP RUNS\n"
                         "       server_bench slow HOST PORT CONNECTIONS SECONDS\n"
                         "       server_bench logins HOST PORT SERVER_PID COUNT\n");
    return 2;
}
