#include "ServerTestSupport.h"
#include "Zip.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <QUuid>

#include <algorithm>
#include <vector>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace quorvel::test {

namespace {

QByteArray pdfString(const QString &text) {
    QByteArray out = "(";
    for (char c : text.toLatin1()) {
        if (c == '(' || c == ')' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + ")";
}

// A PDF file of the numbered objects (object n is objects[n-1]), with its cross-reference table.
QByteArray assemble(const QList<QByteArray> &objects) {
    QByteArray pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    std::vector<qsizetype> offsets;
    for (qsizetype i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype off : offsets)
        pdf += QByteArray::number(off).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) +
           " /Root 1 0 R >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}

} // namespace

QByteArray makePdf(const QList<QList<PdfRun>> &pages) {
    QList<QByteArray> objects; // object n is objects[n-1]
    objects << "<< /Type /Catalog /Pages 2 0 R >>";
    objects << QByteArray(); // pages, filled below
    objects << "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>";
    objects
        << "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica-Bold /Encoding /WinAnsiEncoding >>";
    objects << "<< /Type /Font /Subtype /Type1 /BaseFont /Courier /Encoding /WinAnsiEncoding >>";
    QByteArray kids;
    for (const QList<PdfRun> &page : pages) {
        QByteArray content;
        for (const PdfRun &r : page)
            content += "BT /" + r.font + " " + QByteArray::number(r.size) + " Tf " +
                       QByteArray::number(r.x) + " " + QByteArray::number(r.y) + " Td " +
                       pdfString(r.text) + " Tj ET\n";
        const int pageObj = int(objects.size()) + 1;
        objects << "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << "
                   "/F1 3 0 R /F2 4 0 R "
                   "/F3 5 0 R >> >> /Contents " +
                       QByteArray::number(pageObj + 1) + " 0 R >>";
        objects << "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content +
                       "endstream";
        kids += QByteArray::number(pageObj) + " 0 R ";
    }
    objects[1] =
        "<< /Type /Pages /Kids [" + kids + "] /Count " + QByteArray::number(pages.size()) + " >>";
    return assemble(objects);
}

QByteArray textPdf(int pages, const QString &word) {
    QList<QList<PdfRun>> p;
    for (int i = 0; i < pages; ++i)
        p << QList<PdfRun>{{72, 700, 12, "F1", u"%1 %2"_s.arg(word).arg(i + 1)}};
    return makePdf(p);
}

QByteArray layoutPdf(const QList<PdfBlock> &blocks) {
    QList<QList<PdfRun>> pages{{}};
    double y = 740;
    const double left = 72;
    auto need = [&](double h) {
        if (y - h < 72) {
            pages.append(QList<PdfRun>{});
            y = 740;
        }
    };
    for (const PdfBlock &b : blocks) {
        if (b.level > 0) {
            const double size = b.level == 1 ? 22 : b.level == 2 ? 17 : 14;
            need(size * 2.2);
            y -= size * 1.2;
            pages.last() << PdfRun{left, y, size, "F2", b.text};
            y -= size * 0.8;
            continue;
        }
        if (b.level == -2) {
            need(12);
            y -= 11;
            pages.last() << PdfRun{left + 12, y, 9, "F3", b.text};
            continue;
        }
        const double size = 11;
        const int width = b.level == -1 ? 80 : 85; // characters per line
        const QStringList words = b.text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        QStringList lines{QString()};
        for (const QString &w : words) {
            if (!lines.last().isEmpty() && lines.last().size() + 1 + w.size() > width)
                lines << QString();
            lines.last() += (lines.last().isEmpty() ? QString() : u" "_s) + w;
        }
        y -= size * 0.6; // paragraph spacing
        for (qsizetype i = 0; i < lines.size(); ++i) {
            need(size * 1.3);
            y -= size * 1.3;
            if (b.level == -1 && i == 0)
                pages.last() << PdfRun{left, y, size, "F1", u"- "_s + lines[i]};
            else
                pages.last() << PdfRun{b.level == -1 ? left + 12 : left, y, size, "F1", lines[i]};
        }
    }
    return makePdf(pages);
}

// A page with one large uncompressed RGB image, as scanners produce.
QByteArray imagePdf() {
    const int w = 1200, h = 1200;
    QByteArray pixels;
    pixels.reserve(w * h * 3);
    quint32 noise = 12345;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            noise = noise * 1103515245u + 12345u;
            pixels += char((x * 255 / w + (noise >> 28)) & 0xff);
            pixels += char((y * 255 / h) & 0xff);
            pixels += char(((x + y) * 128 / w) & 0xff);
        }
    const QByteArray content = "q 288 0 0 288 162 252 cm /Im1 Do Q\n";
    QList<QByteArray> objs{
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /XObject << /Im1 5 0 R "
        ">> >> /Contents 4 0 R >>",
        "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content +
            "endstream",
        "<< /Type /XObject /Subtype /Image /Width 1200 /Height 1200 /ColorSpace /DeviceRGB "
        "/BitsPerComponent 8 /Length " +
            QByteArray::number(pixels.size()) + " >>\nstream\n" + pixels + "\nendstream",
    };
    return assemble(objs);
}

QString writeDocx(const QString &dir, const QString &name, int paragraphs) {
    QString body;
    for (int i = 0; i < paragraphs; ++i)
        body += QStringLiteral("<w:p><w:r><w:t>Paragraph %1: the orchard survey records river "
                               "levels and the harvest of the northern valley.</w:t></w:r></w:p>")
                    .arg(i + 1);
    const QString parts = dir + QLatin1Char('/') + name + u".parts"_s;
    QDir().mkpath(parts);
    const QStringList names{u"[Content_Types].xml"_s, u"_rels/.rels"_s, u"word/document.xml"_s};
    const QList<QByteArray> contents{
        R"(<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/></Types>)",
        R"(<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="word/document.xml"/></Relationships>)",
        R"(<?xml version="1.0" encoding="UTF-8"?><w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"><w:body>)" +
            body.toUtf8() + "</w:body></w:document>"};
    QStringList files;
    for (int i = 0; i < names.size(); ++i) {
        files << parts + u"/part%1"_s.arg(i);
        writeFile(files.last(), contents[i]);
    }
    const QString path = dir + QLatin1Char('/') + name;
    return quorvel::server::writeZip(path, files, names) ? path : QString();
}

QString newBoundary() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

QByteArray clientMultipartBody(const QString &boundary, const QString &fileName,
                               const QByteArray &content) {
    QString escaped = fileName;
    escaped.replace(QLatin1Char('"'), u"%22"_s)
        .replace(QLatin1Char('\r'), u"%0D"_s)
        .replace(QLatin1Char('\n'), u"%0A"_s);
    QByteArray body;
    body += "\r\n--" + boundary.toUtf8() + "\r\n";
    body +=
        "Content-Disposition: form-data; name=\"file\"; filename=\"" + escaped.toUtf8() + "\"\r\n";
    body += "Content-Type: application/pdf\r\n\r\n";
    body += content;
    body += "\r\n--" + boundary.toUtf8() + "--\r\n";
    return body;
}

bool writeFile(const QString &path, const QByteArray &data) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

int filesUnder(const QString &dir) {
    int n = 0;
    for (QDirIterator it(dir, QDir::Files, QDirIterator::Subdirectories); it.hasNext(); it.next())
        ++n;
    return n;
}

QByteArray readFile(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int runTool(const QString &program, const QStringList &args, QByteArray *output, int timeoutMs) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForStarted())
        return -1;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    if (output)
        *output = p.readAll();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

int pdfPages(const QString &path) {
    QByteArray out;
    if (runTool(u"pdfinfo"_s, {path}, &out) != 0)
        return -1;
    const auto m = QRegularExpression(u"Pages:\\s+(\\d+)"_s).match(QString::fromLatin1(out));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

QString pdfText(const QString &path) {
    QByteArray out;
    runTool(u"pdftotext"_s, {path, u"-"_s}, &out);
    return QString::fromUtf8(out);
}

QStringList zipNames(const QString &zip) {
    QByteArray out;
    if (runTool(u"unzip"_s, {u"-Z1"_s, zip}, &out) != 0)
        return {};
    return QString::fromUtf8(out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QByteArray zipEntry(const QString &zip, const QString &entry) {
    QByteArray out;
    runTool(u"unzip"_s, {u"-p"_s, zip, entry}, &out);
    return out;
}

QString zipText(const QString &zip, const QString &entry) {
    return QString::fromUtf8(zipEntry(zip, entry))
        .replace(QRegularExpression(u"</(?:w|a):p>"_s), u"\n"_s)
        .remove(QRegularExpression(u"<[^>]*>"_s));
}

QList<int> processesWithHomeUnder(const QString &dir) {
    QList<int> pids;
    const QByteArray wanted = "HOME=" + QFile::encodeName(dir);
    for (const QString &pid : QDir(u"/proc"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile env(u"/proc/%1/environ"_s.arg(pid));
        if (!env.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &entry : env.readAll().split('\0'))
            if (entry.startsWith(wanted)) {
                pids << pid.toInt();
                break;
            }
    }
    return pids;
}

QStringList wordsOf(const QString &text) {
    static const QRegularExpression nonWord(u"[^\\p{L}\\p{N}]+"_s);
    return text.toLower().split(nonWord, Qt::SkipEmptyParts);
}

double inOrderShare(const QStringList &expected, const QStringList &actual) {
    if (expected.isEmpty())
        return 1.0;
    std::vector<int> prev(size_t(actual.size()) + 1, 0), cur(prev.size(), 0);
    for (const QString &e : expected) {
        for (qsizetype j = 1; j <= actual.size(); ++j)
            cur[size_t(j)] = e == actual[j - 1] ? prev[size_t(j - 1)] + 1
                                                : std::max(prev[size_t(j)], cur[size_t(j - 1)]);
        std::swap(prev, cur);
    }
    return double(prev.back()) / double(expected.size());
}

TestService::TestService(int workers, qint64 maxUploadBytes, QString dataDir,
                         const std::function<void(quorvel::server::Config &)> &tweak) {
    using namespace quorvel::server;
    Accounts::setFastHashingForTests(true);
    if (dataDir.isEmpty()) {
        m_tmp = std::make_unique<QTemporaryDir>();
        dataDir = m_tmp->path();
    }
    config.dataDir = dataDir;
    config.port = 0;
    config.workers = workers;
    config.maxUploadBytes = maxUploadBytes;
    config.httpThreads = 16;
    config.selfExecutable = QStringLiteral(QUORVEL_SERVER_BINARY);
    // Most tests convert no office document: start LibreOffice only when one comes.
    config.warmOfficeEngines = false;
    // Leases are renewed and taken back by a background thread; tests that take jobs back
    // themselves (recover()) must not race it.
    config.jobLease = std::chrono::seconds(3600);
    if (tweak)
        tweak(config);
    if (PgCluster::wanted()) {
        PgCluster *pg = PgCluster::shared();
        if (pg)
            databaseUrl = pg->newDatabase();
        if (databaseUrl.isEmpty())
            qFatal("no PostgreSQL cluster for the test");
    }
    store = openStore(databaseUrl, dataDir);
    store->migrate();
    accounts = std::make_unique<Accounts>(*store);
    runner = std::make_unique<JobRunner>(*store, config);
    api = std::make_unique<HttpApi>(*store, *accounts, *runner, config);
    port = api->bind();
    runner->recover();
    if (workers > 0)
        runner->start();
    m_thread = std::thread([this] { api->serve(); });
    // Wait until the accept loop runs.
    for (int i = 0; i < 200 && !api->server().is_running(); ++i)
        QThread::msleep(5);
}

bool PgCluster::wanted() {
    return qEnvironmentVariable("QUORVEL_TEST_STORE") == u"postgresql"_s;
}

PgCluster *PgCluster::shared() {
    static std::unique_ptr<PgCluster> cluster = [] {
        auto c = std::make_unique<PgCluster>();
        return c->running() ? std::move(c) : nullptr;
    }();
    return cluster.get();
}

PgCluster::PgCluster() {
    QStringList found = QDir(u"/usr/lib/postgresql"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(found.begin(), found.end(),
              [](const QString &a, const QString &b) { return a.toInt() > b.toInt(); });
    for (const QString &v : found)
        if (QFile::exists(u"/usr/lib/postgresql/%1/bin/initdb"_s.arg(v))) {
            m_bin = u"/usr/lib/postgresql/%1/bin/"_s.arg(v);
            break;
        }
    if (m_bin.isEmpty()) {
        qWarning("PostgreSQL's server programs are not installed (postgresql-15)");
        return;
    }
    m_dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + u"/quorvel-pg-XXXXXX"_s);
    // PostgreSQL refuses to run as root: the cluster belongs to the postgres user then.
    m_asPostgres = ::geteuid() == 0;
    if (m_asPostgres && runTool(u"chown"_s, {u"postgres:postgres"_s, m_dir->path()}) != 0) {
        qWarning("cannot hand %s to the postgres user", qPrintable(m_dir->path()));
        return;
    }
    QByteArray out;
    if (run(u"initdb"_s,
            {u"-D"_s, m_dir->path() + u"/data"_s, u"-U"_s, u"postgres"_s, u"--auth=trust"_s,
             u"--no-sync"_s, u"-E"_s, u"UTF8"_s, u"--no-locale"_s},
            &out) != 0) {
        qWarning("initdb failed: %s", out.constData());
        return;
    }
    if (!start())
        return;
    // Should this process die without stopping it, the cluster goes too.
    const QString stop = (m_asPostgres ? u"runuser -u postgres -- "_s : QString()) + m_bin +
                         u"pg_ctl -D %1/data -m immediate stop"_s.arg(m_dir->path());
    QProcess::startDetached(u"sh"_s,
                            {u"-c"_s, u"while kill -0 %1 2>/dev/null; do sleep 1; done; "
                                      "%2; rm -rf %3"_s.arg(QCoreApplication::applicationPid())
                                          .arg(stop, m_dir->path())});
}

PgCluster::~PgCluster() {
    if (m_running)
        run(u"pg_ctl"_s, {u"-D"_s, m_dir->path() + u"/data"_s, u"-m"_s, u"immediate"_s, u"stop"_s});
}

int PgCluster::run(const QString &tool, const QStringList &args, QByteArray *out) {
    if (m_asPostgres)
        return runTool(u"runuser"_s,
                       QStringList{u"-u"_s, u"postgres"_s, u"--"_s, m_bin + tool} + args, out);
    return runTool(m_bin + tool, args, out);
}

bool PgCluster::start() {
    QByteArray out;
    // Durability is no concern of a throwaway cluster: no fsync, no full pages.
    const QString options = u"-c listen_addresses='' -k %1 -F -c full_page_writes=off "
                            "-c max_connections=300 -c shared_buffers=32MB"_s.arg(m_dir->path());
    m_running = run(u"pg_ctl"_s,
                    {u"-D"_s, m_dir->path() + u"/data"_s, u"-l"_s, m_dir->path() + u"/log"_s,
                     u"-o"_s, options, u"-w"_s, u"start"_s},
                    &out) == 0;
    if (!m_running)
        qWarning("PostgreSQL did not start: %s\n%s", out.constData(),
                 readFile(m_dir->path() + u"/log"_s).constData());
    return m_running;
}

bool PgCluster::stop() {
    const bool ok = run(u"pg_ctl"_s, {u"-D"_s, m_dir->path() + u"/data"_s, u"-m"_s, u"fast"_s,
                                      u"-w"_s, u"stop"_s}) == 0;
    m_running = !ok;
    return ok;
}

QString PgCluster::url(const QString &database) const {
    return u"postgresql:///%1?host=%2&user=postgres"_s.arg(database, m_dir->path());
}

QString PgCluster::newDatabase() {
    const QString name = u"quorvel_test_%1"_s.arg(++m_databases);
    QByteArray out;
    if (run(u"createdb"_s, {u"-h"_s, m_dir->path(), u"-U"_s, u"postgres"_s, name}, &out) != 0) {
        qWarning("createdb failed: %s", out.constData());
        return {};
    }
    return url(name);
}

TestService::~TestService() {
    stop();
}

void TestService::stop() {
    if (m_thread.joinable()) {
        api->stop();
        m_thread.join();
    }
    if (runner)
        runner->stop();
}

QString TestService::addUserAndLogin(const QString &email, qint64 pages, qint64 lifetimeDaily) {
    accounts->addUser(email, u"pw-"_s + email, pages, lifetimeDaily);
    return accounts->login(email, u"pw-"_s + email).token;
}

std::unique_ptr<httplib::Client> TestService::client() const {
    auto c = std::make_unique<httplib::Client>("127.0.0.1", port);
    c->set_read_timeout(60);
    return c;
}

httplib::Result TestService::get(const QString &path, const QString &token) const {
    httplib::Headers h;
    if (!token.isNull())
        h.emplace("Authorization", "Bearer " + token.toStdString());
    return client()->Get(path.toStdString(), h);
}

httplib::Result TestService::post(const QString &path, const QString &token, const QByteArray &body,
                                  const QString &contentType) const {
    httplib::Headers h;
    if (!token.isNull())
        h.emplace("Authorization", "Bearer " + token.toStdString());
    return client()->Post(path.toStdString(), h, body.toStdString(), contentType.toStdString());
}

QJsonObject dataOf(const httplib::Result &r) {
    if (!r)
        return {};
    return QJsonDocument::fromJson(QByteArray::fromStdString(r->body))
        .object()
        .value(u"data"_s)
        .toObject();
}

QJsonObject TestService::upload(const QString &token, const QString &fileName,
                                const QByteArray &content, int *status) const {
    const QString boundary = newBoundary();
    auto r =
        post(u"/api/v2/uploadfilepdf"_s, token, clientMultipartBody(boundary, fileName, content),
             u"multipart/form-data; boundary="_s + boundary);
    if (status)
        *status = r ? r->status : -1;
    return r && r->status == 200 ? dataOf(r) : QJsonObject();
}

QJsonObject TestService::convert(const QString &token, const QJsonObject &upload,
                                 const QString &typ, int *status, QByteArray *body) const {
    QJsonObject req{{u"source_file_md5"_s, upload.value(u"source_file_md5"_s)},
                    {u"typ"_s, typ},
                    {u"source_file_path"_s, upload.value(u"source_file_path"_s)},
                    {u"source_file_typ"_s, upload.value(u"source_file_typ"_s)},
                    {u"page_number"_s, upload.value(u"page_number"_s)},
                    {u"status"_s, 0},
                    {u"file_name"_s, upload.value(u"file_name"_s)}};
    auto r = post(u"/api/v1/tollan/convert"_s, token,
                  QJsonDocument(req).toJson(QJsonDocument::Indented));
    if (status)
        *status = r ? r->status : -1;
    if (body && r)
        *body = QByteArray::fromStdString(r->body);
    return r && r->status == 200 ? dataOf(r) : QJsonObject();
}

QJsonObject TestService::waitForJob(const QString &token, const QString &id, int timeoutMs) const {
    QElapsedTimer t;
    t.start();
    QJsonObject job;
    while (t.elapsed() < timeoutMs) {
        job = dataOf(get(u"/api/v1/tollan/convert/"_s + id, token));
        if (job.value(u"status"_s).toInt() != 0)
            return job;
        QThread::msleep(50);
    }
    return job;
}

} // namespace quorvel::test
