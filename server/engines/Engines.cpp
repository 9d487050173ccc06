#include "Engines.h"

#include "OfficeEngine.h"
#include "PdfText.h"
#include "Process.h"
#include "Zip.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

#include <csignal>

#include <unistd.h>

namespace quorvel::server {

namespace {

using Clock = std::chrono::steady_clock;

// A compressed PDF must keep this share of the input's words, or it is not a result.
constexpr double kCompressRecall = 0.99;
// Pages PDF to PPTX converts in one job (see there).
constexpr int kPptxMaxPages = 400;

ProcessCall command(const QString &program, const QStringList &args,
                    const QString &outputFile = {}) {
    ProcessCall call;
    call.program = program;
    call.args = args;
    call.outputFile = outputFile;
    return call;
}

class Run {
public:
    explicit Run(const EngineJob &job)
        : m_job(job)
        , m_deadline(Clock::now() + job.timeout) {}

    QString dir(const QString &name) const {
        const QString d = m_job.workDir + QLatin1Char('/') + name;
        QDir().mkpath(d);
        return d;
    }

    // Runs one step; on failure sets the outcome's reason and returns false.
    // `budget`, when set, bounds this step below what is left of the job's time.
    bool step(const QString &what, ProcessCall call, ProcessLimits limits = {},
              std::chrono::milliseconds budget = {}) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(m_deadline - Clock::now());
        if (left.count() <= 0) {
            outcome.reason = what + QStringLiteral(": time limit exceeded");
            outcome.failReason = kTimedOut;
            return false;
        }
        call.timeout = budget.count() > 0 ? std::min(left, budget) : left;
        call.limits = limits;
        if (call.workDir.isEmpty())
            call.workDir = m_job.workDir;
        call.env = {QStringLiteral("PATH=/usr/local/bin:/usr/bin:/bin"),
                    QStringLiteral("HOME=") + m_job.workDir,
                    QStringLiteral("TMPDIR=") + dir(QStringLiteral("tmp")),
                    QStringLiteral("LANG=C.UTF-8"), QStringLiteral("LC_ALL=C.UTF-8"),
                    // One thread per engine: the workers already use every core.
                    QStringLiteral("OMP_THREAD_LIMIT=1"), QStringLiteral("SAL_USE_VCLPLUGIN=svp")};
        if (call.outputFile.isEmpty())
            call.outputFile = m_job.workDir + QStringLiteral("/step-%1.log").arg(++m_steps);
        const ProcessResult r = runProcess(call, m_job.cancel);
        if (r.end == ProcessResult::End::Cancelled) {
            outcome.cancelled = true;
            outcome.reason = QStringLiteral("stopped by the service shutting down");
            return false;
        }
        if (!r.ok()) {
            outcome.failReason = shortReason(r, limits);
            QString tail = r.output.right(300).simplified();
            outcome.reason = what + QStringLiteral(" failed (") + r.describe() + QLatin1Char(')') +
                             (tail.isEmpty() ? QString() : QStringLiteral(": ") + tail);
            return false;
        }
        return true;
    }

    // Converts `input` into outDir/<its base name>.<ext>; `format` is "ext" or
    // "ext:export filter" as soffice --convert-to takes it.
    bool libreOffice(const QString &input, const QString &format, const QString &outDir,
                     const QString &inFilter = {}) {
        if (m_job.office)
            return warmLibreOffice(input, format, outDir, inFilter);
        QStringList args{QStringLiteral("-env:UserInstallation=") +
                             QUrl::fromLocalFile(m_job.profileDir).toString(QUrl::FullyEncoded),
                         QStringLiteral("--headless"),
                         QStringLiteral("--invisible"),
                         QStringLiteral("--nologo"),
                         QStringLiteral("--norestore"),
                         QStringLiteral("--nodefault"),
                         QStringLiteral("--nolockcheck")};
        if (!inFilter.isEmpty())
            args << QStringLiteral("--infilter=") + inFilter;
        args << QStringLiteral("--convert-to") << format << QStringLiteral("--outdir") << outDir
             << input;
        ProcessLimits limits;
        limits.addressSpace = std::uint64_t(6) << 30;
        return step(QStringLiteral("LibreOffice"), command(QStringLiteral("soffice"), args),
                    limits);
    }

    bool warmLibreOffice(const QString &input, const QString &format, const QString &outDir,
                         const QString &inFilter) {
        const qsizetype colon = format.indexOf(QLatin1Char(':'));
        const QString ext = colon < 0 ? format : format.left(colon);
        OfficeEngine::Conversion c;
        c.input = input;
        c.output = outDir + QLatin1Char('/') + QFileInfo(input).completeBaseName() +
                   QLatin1Char('.') + ext;
        c.importFilter = inFilter;
        c.exportFilter = colon < 0 ? ext : format.mid(colon + 1);
        const OfficeEngine::Result r = m_job.office->convert(c, m_deadline, m_job.cancel);
        outcome.cancelled = r.cancelled;
        if (!r.ok) {
            outcome.reason = r.reason;
            // The engine runs under an address-space bound: past it, LibreOffice aborts or
            // faults while converting.
            static const QRegularExpression crash(
                QStringLiteral("crashed while converting \\(killed by signal (6|7|11)\\)"));
            outcome.failReason = r.reason.contains(QLatin1String("time limit")) ? kTimedOut
                                 : crash.match(r.reason).hasMatch()             ? kTooLarge
                                                                                : kEngineFailed;
        }
        return r.ok;
    }

    bool fail(QString reason, const QString &failReason = {}) {
        outcome.reason = std::move(reason);
        if (!failReason.isEmpty())
            outcome.failReason = failReason;
        return false;
    }

    bool timeLeft() const { return Clock::now() < m_deadline; }
    // More time for work the page count did not foresee (reading scans).
    void extend(std::chrono::milliseconds more) { m_deadline += more; }

    // What a person can act on: the time limit, the memory bound, or the engine itself.
    static QString shortReason(const ProcessResult &r, const ProcessLimits &limits) {
        if (r.end == ProcessResult::End::TimedOut)
            return kTimedOut;
        const QString out = r.output.toLower();
        const bool memory = out.contains(QLatin1String("bad_alloc")) ||
                            out.contains(QLatin1String("out of memory")) ||
                            out.contains(QLatin1String("cannot allocate memory")) ||
                            out.contains(QLatin1String("memoryerror"));
        // Under an address-space bound, running out of it ends an engine by abort or
        // segmentation fault rather than by a message.
        if (memory || (r.end == ProcessResult::End::Signalled && limits.addressSpace > 0 &&
                       (r.exitCode == SIGABRT || r.exitCode == SIGSEGV || r.exitCode == SIGBUS)))
            return kTooLarge;
        return kEngineFailed;
    }

    EngineOutcome outcome;

private:
    const EngineJob &m_job;
    Clock::time_point m_deadline;
    int m_steps = 0;
};

QString inputExtension(const QString &typ) {
    if (typ == QLatin1String("markdown"))
        return QStringLiteral("md");
    if (typ == QLatin1String("jpeg"))
        return QStringLiteral("jpg");
    return typ;
}

// The engine sees the upload under a plain name of its own, never the client's name.
QString placeInput(const EngineJob &job) {
    const QString dir = job.workDir + QStringLiteral("/in");
    QDir().mkpath(dir);
    const QString path = dir + QStringLiteral("/source.") + inputExtension(job.sourceTyp);
    if (::link(QFile::encodeName(job.inputPath).constData(), QFile::encodeName(path).constData()) !=
            0 &&
        !QFile::copy(job.inputPath, path))
        return {};
    return path;
}

bool producedFile(const QString &path) {
    QFileInfo fi(path);
    return fi.isFile() && fi.size() > 0;
}

bool checkPdfResult(Run &run, const QString &path, int expectPages = 0) {
    if (!producedFile(path))
        return run.fail(QStringLiteral("the engine produced no PDF"));
    const PdfInfo info = pdfInfo(path);
    if (!info.readable || info.pages <= 0)
        return run.fail(QStringLiteral("the engine produced an unreadable PDF"));
    if (expectPages > 0 && info.pages != expectPages)
        return run.fail(QStringLiteral("the result has %1 pages instead of %2")
                            .arg(info.pages)
                            .arg(expectPages));
    run.outcome.pages = info.pages;
    return true;
}

bool checkPackageResult(Run &run, const QString &path, const QString &mainPart) {
    if (!producedFile(path))
        return run.fail(QStringLiteral("the engine produced no document"));
    const auto zip = inspectZip(path);
    if (!zip || !zip->names.contains(mainPart))
        return run.fail(QStringLiteral("the engine produced a damaged document"));
    return true;
}

// Writer links the pictures of an HTML page instead of embedding them; as data: URLs
// they travel inside the document.
QString embedImages(const QString &html, const QString &imageDir) {
    static const QRegularExpression img(QStringLiteral("<img src=\"([^\"]+)\""));
    QString out;
    qsizetype from = 0;
    auto it = img.globalMatch(html);
    while (it.hasNext()) {
        const auto m = it.next();
        const QString path = QUrl::fromPercentEncoding(m.captured(1).toUtf8());
        QFile f(path);
        if (!path.startsWith(imageDir + QLatin1Char('/')) || path.contains(QLatin1String("/../")) ||
            !f.open(QIODevice::ReadOnly))
            continue;
        const QString type = path.endsWith(QLatin1String(".png"), Qt::CaseInsensitive)
                                 ? QStringLiteral("image/png")
                                 : QStringLiteral("image/jpeg");
        out += html.mid(from, m.capturedStart(1) - from) + QStringLiteral("data:") + type +
               QStringLiteral(";base64,") + QString::fromLatin1(f.readAll().toBase64());
        from = m.capturedEnd(1);
    }
    return out + html.mid(from);
}

bool markdownToHtml(Run &run, const QString &mdPath, const QString &htmlPath, const QString &title,
                    const QString &imageDir = {}) {
    const QString fragment = mdPath + QStringLiteral(".fragment.html");
    ProcessCall call =
        command(QStringLiteral("cmark-gfm"),
                {QStringLiteral("-e"), QStringLiteral("table"), QStringLiteral("-e"),
                 QStringLiteral("strikethrough"), QStringLiteral("-e"), QStringLiteral("autolink"),
                 QStringLiteral("-e"), QStringLiteral("tasklist"), QStringLiteral("--to"),
                 QStringLiteral("html"), mdPath},
                fragment);
    if (!run.step(QStringLiteral("cmark-gfm"), call))
        return false;
    QFile in(fragment);
    if (!in.open(QIODevice::ReadOnly))
        return run.fail(QStringLiteral("cmark-gfm produced no HTML"));
    QFile out(htmlPath);
    if (!out.open(QIODevice::WriteOnly))
        return run.fail(QStringLiteral("cannot write the HTML page"));
    const QString body = QString::fromUtf8(in.readAll());
    out.write(htmlPage(title, imageDir.isEmpty() ? body : embedImages(body, imageDir)).toUtf8());
    return true;
}

// Languages OCR reads, of those whose data is installed; empty when tesseract is absent.
QString ocrLanguages() {
    static const QString langs = [] {
        if (findProgram(QStringLiteral("tesseract")).isEmpty())
            return QString();
        QStringList found;
        const QStringList dirs =
            QDir(QStringLiteral("/usr/share/tesseract-ocr"))
                .entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::Reversed);
        for (const char *lang : {"eng", "deu", "rus", "chi_sim", "jpn"})
            for (const QString &d : dirs)
                if (QFile::exists(
                        QStringLiteral("/usr/share/tesseract-ocr/%1/tessdata/%2.traineddata")
                            .arg(d, QLatin1String(lang)))) {
                    found << QLatin1String(lang);
                    break;
                }
        return found.join(QLatin1Char('+'));
    }();
    return langs;
}

QString pageList(const QList<int> &pages) {
    QStringList out;
    for (int p : pages)
        out << QString::number(p);
    return out.join(QStringLiteral(", "));
}

struct PageReport {
    QList<int> textless, longest, unread;
};

PageReport readPageReport(const QString &path) {
    PageReport r;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return r;
    for (const QByteArray &line : f.readAll().split('\n')) {
        QList<QByteArray> words = line.split(' ');
        const QByteArray key = words.takeFirst();
        if (key != "textless" && key != "longest" && key != "unread")
            continue;
        QList<int> &into = key == "textless" ? r.textless : key == "longest" ? r.longest : r.unread;
        for (const QByteArray &w : words)
            if (const int n = w.toInt(); n > 0)
                into << n;
    }
    return r;
}

// Each page without a text layer is rendered and read by tesseract into a one-page PDF
// of invisible text in place (ocrDir/page-<n>.pdf), which the Markdown step lays out
// like any other page.
bool ocrPages(Run &run, const QString &input, const QList<int> &pages, const QList<int> &longest,
              const QString &ocrDir) {
    const QString langs = ocrLanguages();
    if (langs.isEmpty())
        return true; // no OCR here: the pages stay unread and say so
    ProcessLimits limits;
    limits.addressSpace = std::uint64_t(2) << 30;
    // The job's time allows for pages with text; reading a dense page in five languages
    // takes tesseract 15 to 60 seconds on one core.
    run.extend(std::min<std::chrono::milliseconds>(std::chrono::seconds(60) * pages.size(),
                                                   std::chrono::minutes(30)));
    for (qsizetype i = 0; i < pages.size(); ++i) {
        const QString n = QString::number(pages[i]);
        // 300 dpi, but never more pixels than an A4 page at 300 dpi: a scan put into a PDF
        // at a wrong resolution can measure metres, and tesseract's time grows with pixels.
        const int side = std::max(longest.value(i, 842), 1);
        const QString dpi = QString::number(std::clamp(3508 * 72 / side, 50, 300));
        const QString image = ocrDir + QStringLiteral("/image-") + n;
        if (!run.step(QStringLiteral("pdftoppm"),
                      command(QStringLiteral("pdftoppm"),
                              {QStringLiteral("-r"), dpi, QStringLiteral("-gray"),
                               QStringLiteral("-png"), QStringLiteral("-singlefile"),
                               QStringLiteral("-f"), n, QStringLiteral("-l"), n, input, image}),
                      limits) ||
            !run.step(QStringLiteral("tesseract"),
                      command(QStringLiteral("tesseract"),
                              {image + QStringLiteral(".png"),
                               ocrDir + QStringLiteral("/page-") + n, QStringLiteral("-l"), langs,
                               QStringLiteral("--dpi"), dpi, QStringLiteral("-c"),
                               QStringLiteral("textonly_pdf=1"), QStringLiteral("pdf")}),
                      limits))
            return false;
        QFile::remove(image + QStringLiteral(".png"));
    }
    return true;
}

bool hasWords(const QString &path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    // The pictures it places are no text.
    static const QRegularExpression picture(QStringLiteral(R"(!\[[^\]]*\]\(<[^>]*>\))"));
    QString text = QString::fromUtf8(f.readAll());
    text.remove(picture);
    for (const QChar c : std::as_const(text))
        if (c.isLetterOrNumber())
            return true;
    return false;
}

// The pictures a PDF places, extracted with their positions for the Markdown step (an
// XML file beside them), or "" when there are none or pdftohtml could not read them:
// the text is converted all the same.
QString extractImages(Run &run, const QString &input) {
    const QString dir = run.dir(QStringLiteral("images"));
    ProcessLimits limits;
    limits.addressSpace = std::uint64_t(2) << 30;
    const auto budget = std::chrono::milliseconds(60000);
    if (!run.step(QStringLiteral("pdftohtml"),
                  command(QStringLiteral("pdftohtml"),
                          {QStringLiteral("-xml"), QStringLiteral("-q"), QStringLiteral("-nodrm"),
                           QStringLiteral("-zoom"), QStringLiteral("1"), QStringLiteral("-fmt"),
                           QStringLiteral("png"), input, dir + QStringLiteral("/img")}),
                  limits, budget)) {
        run.outcome.log = run.outcome.reason;
        run.outcome.reason.clear();
        run.outcome.failReason.clear();
        return {};
    }
    const QString xml = dir + QStringLiteral("/img.xml");
    return QFileInfo::exists(xml) ? xml : QString();
}

bool pdfToMarkdownStep(Run &run, const EngineJob &job, const QString &input, const QString &mdPath,
                       const QString &imagesXml = {}) {
    ProcessLimits limits;
    limits.addressSpace = std::uint64_t(2) << 30;
    const QString reportPath = mdPath + QStringLiteral(".pages");
    QStringList args{QStringLiteral("engine"), QStringLiteral("pdf2md"), input, mdPath, reportPath};
    if (!imagesXml.isEmpty())
        args << QString() << imagesXml;
    if (!run.step(QStringLiteral("PDF text extraction"), command(job.selfExecutable, args), limits))
        return false;
    PageReport report = readPageReport(reportPath);
    if (!report.textless.isEmpty()) {
        const QString ocrDir = run.dir(QStringLiteral("ocr"));
        if (!ocrPages(run, input, report.textless, report.longest, ocrDir) ||
            !run.step(
                QStringLiteral("PDF text extraction"),
                command(job.selfExecutable, imagesXml.isEmpty()
                                                ? args + QStringList{ocrDir}
                                                : args.mid(0, 5) + QStringList{ocrDir, imagesXml}),
                limits))
            return false;
        report = readPageReport(reportPath);
    }
    if (!QFileInfo(mdPath).isFile())
        return run.fail(QStringLiteral("PDF text extraction produced nothing"));
    // An empty document is not a conversion: nothing to read means nothing to charge.
    if (!hasWords(mdPath))
        return run.fail(report.textless.isEmpty()
                            ? QStringLiteral("the PDF has no text")
                            : QStringLiteral("no text found: the pages are images and OCR read "
                                             "nothing on them"),
                        kNoText);
    QStringList notes;
    const int ocrRead = int(report.textless.size() - report.unread.size());
    if (ocrRead > 0)
        notes << QStringLiteral("%1 scanned page(s) read by OCR").arg(ocrRead);
    if (!report.unread.isEmpty())
        notes << QStringLiteral("no text found on page(s) %1").arg(pageList(report.unread));
    run.outcome.note = notes.join(QStringLiteral("; "));
    return true;
}

// pdftotext's words of `pdf`; false (and the outcome's reason set) when it cannot read it.
bool extractText(Run &run, const QString &pdf, QString *text) {
    const QString txt = pdf + QStringLiteral(".txt");
    ProcessLimits limits;
    limits.addressSpace = std::uint64_t(2) << 30;
    if (!run.step(
            QStringLiteral("pdftotext"),
            command(QStringLiteral("pdftotext"), {QStringLiteral("-q"), QStringLiteral("-enc"),
                                                  QStringLiteral("UTF-8"), pdf, txt}),
            limits))
        return false;
    QFile f(txt);
    if (!f.open(QIODevice::ReadOnly))
        return run.fail(QStringLiteral("pdftotext produced nothing"));
    *text = QString::fromUtf8(f.readAll());
    return true;
}

// Two rewrites compete and the smallest that keeps the text wins: Ghostscript (fonts
// subset, images downsampled) and qpdf (streams recompressed, nothing else touched).
// Ghostscript's newer PDF reader writes broken Unicode maps for some fonts (ligatures
// and CID fonts come out as CJK garbage), so it runs with the older one, and every
// candidate is still checked against the input's own text before it may be the result.
void compress(Run &run, const QString &input, const QString &out) {
    const int pages = run.outcome.pages;
    const qint64 inputSize = QFileInfo(input).size();
    QString inputText;
    if (!extractText(run, input, &inputText)) {
        run.outcome.failReason = kUnreadable;
        return;
    }
    const QString work = run.dir(QStringLiteral("compress"));
    const QString gsOut = work + QStringLiteral("/gs.pdf");
    const QString qpdfOut = work + QStringLiteral("/qpdf.pdf");
    const ProcessCall gs = command(
        QStringLiteral("gs"),
        {QStringLiteral("-q"), QStringLiteral("-dSAFER"), QStringLiteral("-dBATCH"),
         QStringLiteral("-dNOPAUSE"), QStringLiteral("-dNEWPDF=false"),
         QStringLiteral("-sDEVICE=pdfwrite"), QStringLiteral("-dCompatibilityLevel=1.5"),
         QStringLiteral("-dDetectDuplicateImages=true"),
         QStringLiteral("-dDownsampleColorImages=true"),
         QStringLiteral("-dColorImageResolution=150"),
         QStringLiteral("-dDownsampleGrayImages=true"), QStringLiteral("-dGrayImageResolution=150"),
         QStringLiteral("-dDownsampleMonoImages=true"), QStringLiteral("-dMonoImageResolution=300"),
         QStringLiteral("-sOutputFile=") + gsOut, input});
    const ProcessCall qpdf =
        command(QStringLiteral("qpdf"),
                {QStringLiteral("--recompress-flate"), QStringLiteral("--compression-level=9"),
                 QStringLiteral("--object-streams=generate"), input, qpdfOut});
    struct Candidate {
        QString what;
        ProcessCall call;
        QString path;
        std::chrono::milliseconds budget;
    };
    QString best;
    qint64 bestSize = inputSize;
    QStringList notes;
    // Ghostscript rewrites every page and can take minutes on a long text-only manual
    // that it then makes larger; it gets a share of the time, and qpdf's result stands
    // when it runs out.
    const auto gsBudget = std::chrono::milliseconds(30000 + 250 * qint64(pages));
    for (const Candidate &c : {Candidate{QStringLiteral("qpdf"), qpdf, qpdfOut, {}},
                               Candidate{QStringLiteral("Ghostscript"), gs, gsOut, gsBudget}}) {
        // One rewrite failing is not the job failing: the other may do.
        if (!run.step(c.what, c.call, {}, c.budget)) {
            if (run.outcome.cancelled || !run.timeLeft())
                return;
            notes << run.outcome.reason;
            run.outcome.reason.clear();
            run.outcome.failReason.clear();
            continue;
        }
        const qint64 size = QFileInfo(c.path).size();
        if (size <= 0 || size >= bestSize || pdfInfo(c.path).pages != pages)
            continue;
        QString text;
        if (!extractText(run, c.path, &text)) {
            if (run.outcome.cancelled)
                return;
            run.outcome.reason.clear();
            run.outcome.failReason.clear();
            continue;
        }
        const double recall = wordRecall(inputText, text);
        if (recall < kCompressRecall) {
            notes << QStringLiteral("%1 lost text (word recall %2)")
                         .arg(c.what)
                         .arg(recall, 0, 'f', 3);
            continue;
        }
        best = c.path;
        bestSize = size;
    }
    const QString result = out + QStringLiteral("/source.pdf");
    if (best.isEmpty()) {
        // Nothing smaller keeps the text: the original is the result, and costs nothing.
        if (!QFile::copy(input, result)) {
            run.fail(QStringLiteral("cannot keep the original"));
            return;
        }
        run.outcome.free = true;
        run.outcome.note = QStringLiteral("already as small as it gets: the original is returned "
                                          "and no pages are charged");
    } else if (!QFile::rename(best, result)) {
        run.fail(QStringLiteral("cannot keep the result"));
        return;
    }
    if (!notes.isEmpty())
        run.outcome.log = notes.join(QStringLiteral("; "));
    run.outcome.ok = true;
    run.outcome.resultPath = result;
}

void convert(Run &run, const EngineJob &job) {
    const QString code = job.code;
    const bool pdfSource = job.sourceTyp == QLatin1String("pdf");
    if (code == QLatin1String("PROTECT") || code == QLatin1String("UNLOCK")) {
        run.fail(QStringLiteral("%1 needs a password, and the conversion request carries none")
                     .arg(code),
                 QStringLiteral("needs a password"));
        return;
    }
    if (pdfSource && job.encrypted) {
        run.fail(QStringLiteral(
                     "the PDF is password-protected and cannot be converted without its password"),
                 QStringLiteral("password-protected"));
        return;
    }
    const QString input = placeInput(job);
    if (input.isEmpty()) {
        run.fail(QStringLiteral("the upload could not be prepared"));
        return;
    }
    const QString out = run.dir(QStringLiteral("out"));
    if (pdfSource) {
        const PdfInfo info = pdfInfo(input);
        if (!info.readable || info.pages <= 0) {
            run.fail(QStringLiteral("the PDF cannot be read"), kUnreadable);
            return;
        }
        run.outcome.pages = info.pages;
    }

    if (code == QLatin1String("PDF2MD")) {
        const QString md = out + QStringLiteral("/source.md");
        if (pdfToMarkdownStep(run, job, input, md))
            run.outcome.ok = true, run.outcome.resultPath = md;
    } else if (code == QLatin1String("PDF2DOC") || code == QLatin1String("PDF2DOCX")) {
        const QString md = run.dir(QStringLiteral("md")) + QStringLiteral("/source.md");
        const QString html = run.dir(QStringLiteral("html")) + QStringLiteral("/source.html");
        const QString imagesXml = extractImages(run, input);
        if (!pdfToMarkdownStep(run, job, input, md, imagesXml) ||
            !markdownToHtml(run, md, html, QStringLiteral("Document"),
                            imagesXml.isEmpty() ? QString() : QFileInfo(imagesXml).path()))
            return;
        if (!run.libreOffice(html, QStringLiteral("docx:MS Word 2007 XML"), out,
                             QStringLiteral("HTML (StarWriter)")))
            return;
        const QString result = out + QStringLiteral("/source.docx");
        if (checkPackageResult(run, result, QStringLiteral("word/document.xml")))
            run.outcome.ok = true, run.outcome.resultPath = result;
    } else if (code == QLatin1String("PDF2PPTX")) {
        // LibreOffice's PDF import holds every page at once: a 311-page manual took 1.2 GiB
        // resident and 5.7 minutes; larger documents risk the engine's memory bound and the
        // time limit after minutes of work, so they are refused at once.
        if (run.outcome.pages > kPptxMaxPages) {
            run.fail(QStringLiteral("%1 pages: LibreOffice's PDF import takes at most %2 in one "
                                    "job")
                         .arg(run.outcome.pages)
                         .arg(kPptxMaxPages),
                     kTooLarge + QStringLiteral(" (%1 pages; at most %2)")
                                     .arg(run.outcome.pages)
                                     .arg(kPptxMaxPages));
            return;
        }
        if (!run.libreOffice(input, QStringLiteral("pptx:Impress MS PowerPoint 2007 XML"), out,
                             QStringLiteral("impress_pdf_import")))
            return;
        const QString result = out + QStringLiteral("/source.pptx");
        if (checkPackageResult(run, result, QStringLiteral("ppt/presentation.xml")))
            run.outcome.ok = true, run.outcome.resultPath = result;
    } else if (code == QLatin1String("PDF2IMG")) {
        const QString pngDir = run.dir(QStringLiteral("png"));
        ProcessCall call =
            command(QStringLiteral("pdftoppm"),
                    {QStringLiteral("-png"), QStringLiteral("-r"), QStringLiteral("150"), input,
                     pngDir + QStringLiteral("/page")});
        if (!run.step(QStringLiteral("pdftoppm"), call))
            return;
        QDir d(pngDir);
        const QStringList pngs =
            d.entryList({QStringLiteral("page-*.png")}, QDir::Files, QDir::Name);
        if (pngs.size() != run.outcome.pages) {
            run.fail(QStringLiteral("pdftoppm rendered %1 of %2 pages")
                         .arg(pngs.size())
                         .arg(run.outcome.pages));
            return;
        }
        QStringList files, names;
        // As many digits as the last page needs, so the names sort in page order.
        const int digits = int(QString::number(pngs.size()).size());
        for (int i = 0; i < pngs.size(); ++i) {
            files << d.filePath(pngs[i]);
            names << QStringLiteral("page-%1.png").arg(i + 1, digits, 10, QLatin1Char('0'));
        }
        const QString result = out + QStringLiteral("/pages.zip");
        QString err;
        if (!writeZip(result, files, names, &err)) {
            run.fail(QStringLiteral("cannot write the archive: ") + err);
            return;
        }
        run.outcome.ok = true;
        run.outcome.resultPath = result;
    } else if (code == QLatin1String("COMPRESS")) {
        compress(run, input, out);
    } else if (code == QLatin1String("DOCX2PDF") || code == QLatin1String("DOC2PDF") ||
               code == QLatin1String("PPTX2PDF") || code == QLatin1String("PPT2PDF")) {
        if (!run.libreOffice(input, QStringLiteral("pdf"), out))
            return;
        const QString result = out + QStringLiteral("/source.pdf");
        if (checkPdfResult(run, result))
            run.outcome.ok = true, run.outcome.resultPath = result;
    } else if (code == QLatin1String("MD2PDF")) {
        const QString html = run.dir(QStringLiteral("html")) + QStringLiteral("/source.html");
        if (job.sourceTyp == QLatin1String("txt")) {
            QFile in(input), outHtml(html);
            if (!in.open(QIODevice::ReadOnly) || !outHtml.open(QIODevice::WriteOnly)) {
                run.fail(QStringLiteral("cannot read the text"), kUnreadable);
                return;
            }
            outHtml.write(htmlPage(QStringLiteral("Document"),
                                   plainTextToHtml(QString::fromUtf8(in.readAll())))
                              .toUtf8());
        } else if (!markdownToHtml(run, input, html, QStringLiteral("Document"))) {
            return;
        }
        if (!run.libreOffice(html, QStringLiteral("pdf:writer_pdf_Export"), out,
                             QStringLiteral("HTML (StarWriter)")))
            return;
        const QString result = out + QStringLiteral("/source.pdf");
        if (checkPdfResult(run, result))
            run.outcome.ok = true, run.outcome.resultPath = result;
    } else if (code == QLatin1String("IMG2PDF")) {
        const QString result = out + QStringLiteral("/source.pdf");
        ProcessCall call =
            command(QStringLiteral("img2pdf"), {input, QStringLiteral("-o"), result});
        if (run.step(QStringLiteral("img2pdf"), call) && checkPdfResult(run, result, 1))
            run.outcome.ok = true, run.outcome.resultPath = result;
    } else {
        run.fail(QStringLiteral("no engine for ") + code);
    }
}

} // namespace

QString htmlPage(const QString &title, const QString &bodyHtml) {
    QString body = bodyHtml;
    // Writer's HTML import ignores most CSS on tables; attributes it honours.
    body.replace(
        QStringLiteral("<table>"),
        QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"4\" width=\"100%\">"));
    return QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>") +
           title.toHtmlEscaped() +
           QStringLiteral("</title><style>"
                          "body{font-family:'DejaVu Sans',sans-serif;font-size:11pt}"
                          "pre,code{font-family:'DejaVu Sans Mono',monospace;font-size:9.5pt}"
                          "table{border-collapse:collapse}th,td{border:1px solid #555;padding:4px}"
                          "</style></head><body>\n") +
           body + QStringLiteral("\n</body></html>\n");
}

QString plainTextToHtml(const QString &text) {
    QString html;
    const QStringList paragraphs = QString(text)
                                       .replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
                                       .split(QStringLiteral("\n\n"), Qt::SkipEmptyParts);
    for (const QString &p : paragraphs) {
        const QString t = p.trimmed();
        if (t.isEmpty())
            continue;
        html += QStringLiteral("<p>") +
                t.toHtmlEscaped().replace(QLatin1Char('\n'), QStringLiteral("<br/>")) +
                QStringLiteral("</p>\n");
    }
    return html;
}

EngineOutcome runEngine(const EngineJob &job) {
    Run run(job);
    convert(run, job);
    if (run.outcome.ok && run.outcome.free)
        run.outcome.pages = 0;
    else if (run.outcome.ok && run.outcome.pages <= 0)
        run.outcome.pages = 1;
    if (!run.outcome.ok && !run.outcome.cancelled && run.outcome.failReason.isEmpty())
        run.outcome.failReason = kEngineFailed;
    return run.outcome;
}

} // namespace quorvel::server
