// quorvel-office-engine: LibreOffice kept loaded in one process (LibreOfficeKit)
// for quorvel-server, which runs one per worker and talks to it over a pipe.
//
//   quorvel-office-engine --profile DIR [--program-dir DIR]
//
// Answers "ready" on standard output once LibreOffice is loaded, then reads
// one request per line from standard input,
//   convert<TAB>INPUT-URL<TAB>OUTPUT-URL<TAB>IMPORT-FILTER<TAB>EXPORT-FILTER
// (an empty import filter lets LibreOffice detect the type; the export filter
// "pdf" picks the PDF export that suits the loaded document), and answers each
// with "ok" or "error TEXT". It ends at the end of its input. Anything
// LibreOffice itself prints goes to standard error, never into the answers.
#include <LibreOfficeKit/LibreOfficeKit.h>
#include <LibreOfficeKit/LibreOfficeKitInit.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// LibreOfficeKit loads a document only through type detection; choosing an
// import filter (PDF into Impress, HTML into Writer rather than Writer/Web)
// needs the UNO loader, which a Basic macro in the engine's own profile
// reaches. Its parameters come from the environment, so no path needs quoting.
const char *kMacroModule = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE script:module PUBLIC "-//OpenOffice.org//DTD OfficeDocument 1.0//EN" "module.dtd">
<script:module xmlns:script="http://openoffice.org/2000/script" script:name="Convert" script:language="StarBasic">
Sub Ping
    Report(&quot;ok&quot;)
End Sub

Sub Run
    Dim doc As Object
    Dim exportFilter As String
    On Error GoTo Failed
    Dim load(3) As New com.sun.star.beans.PropertyValue
    load(0).Name = &quot;Hidden&quot; : load(0).Value = True
    load(1).Name = &quot;ReadOnly&quot; : load(1).Value = True
    &apos; Documents never run their own macros nor fetch linked content.
    load(2).Name = &quot;MacroExecutionMode&quot; : load(2).Value = 0
    load(3).Name = &quot;UpdateDocMode&quot; : load(3).Value = 0
    If Environ(&quot;QUORVEL_IMPORT_FILTER&quot;) &lt;&gt; &quot;&quot; Then
        ReDim Preserve load(4) As New com.sun.star.beans.PropertyValue
        load(4).Name = &quot;FilterName&quot; : load(4).Value = Environ(&quot;QUORVEL_IMPORT_FILTER&quot;)
    End If
    doc = StarDesktop.loadComponentFromURL(Environ(&quot;QUORVEL_INPUT&quot;), &quot;_blank&quot;, 0, load())
    If IsNull(doc) Then
        Report(&quot;error the document could not be opened&quot;)
        Exit Sub
    End If
    exportFilter = Environ(&quot;QUORVEL_EXPORT_FILTER&quot;)
    If exportFilter = &quot;pdf&quot; Then
        If doc.supportsService(&quot;com.sun.star.presentation.PresentationDocument&quot;) Then
            exportFilter = &quot;impress_pdf_Export&quot;
        ElseIf doc.supportsService(&quot;com.sun.star.drawing.DrawingDocument&quot;) Then
            exportFilter = &quot;draw_pdf_Export&quot;
        ElseIf doc.supportsService(&quot;com.sun.star.sheet.SpreadsheetDocument&quot;) Then
            exportFilter = &quot;calc_pdf_Export&quot;
        ElseIf doc.supportsService(&quot;com.sun.star.text.WebDocument&quot;) Then
            exportFilter = &quot;writer_web_pdf_Export&quot;
        Else
            exportFilter = &quot;writer_pdf_Export&quot;
        End If
    End If
    Dim store(1) As New com.sun.star.beans.PropertyValue
    store(0).Name = &quot;FilterName&quot; : store(0).Value = exportFilter
    store(1).Name = &quot;Overwrite&quot; : store(1).Value = True
    doc.storeToURL(Environ(&quot;QUORVEL_OUTPUT&quot;), store())
    doc.close(True)
    Report(&quot;ok&quot;)
    Exit Sub
Failed:
    Report(&quot;error &quot; &amp; Error$)
    On Error Resume Next
    If Not IsNull(doc) Then doc.close(True)
End Sub

Sub Report(text As String)
    Dim f As Integer
    f = FreeFile
    Open Environ(&quot;QUORVEL_STATUS&quot;) For Output As #f
    Print #f, text
    Close #f
End Sub
</script:module>
)";

const char *kLibraryIndex = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE library:library PUBLIC "-//OpenOffice.org//DTD OfficeDocument 1.0//EN" "library.dtd">
<library:library xmlns:library="http://openoffice.org/2000/library" library:name="QuorvelEngine" library:readonly="true" library:passwordprotected="false">
 <library:element library:name="Convert"/>
</library:library>
)";

const char *kLibraryEntry =
    R"( <library:library library:name="QuorvelEngine" library:link="false"/>)";

const char *kSetupDone =
    R"(<item oor:path="/org.openoffice.Setup/Office"><prop oor:name="ooSetupInstCompleted" oor:op="fuse"><value>true</value></prop></item>)";

// A small document converted at start-up, so the first job finds Writer, its
// Word filters and the PDF export already loaded.
const char *kWarmUpPage =
    "<html><body><h1>Warm-up</h1><p>Loads the text filters once.</p>"
    "<table border=\"1\"><tr><td>a</td><td>b</td></tr></table></body></html>\n";

int g_answers = -1; // the pipe to the service; standard output goes to the log

void answer(const std::string &line) {
    std::string out = line;
    for (char &c : out)
        if (c == '\n' || c == '\r')
            c = ' ';
    out += '\n';
    const char *p = out.data();
    size_t left = out.size();
    while (left > 0) {
        const ssize_t n = ::write(g_answers, p, left);
        if (n <= 0)
            ::_exit(1); // the service is gone
        p += n;
        left -= size_t(n);
    }
}

[[noreturn]] void fail(const std::string &why) {
    answer("error " + why);
    ::_exit(1);
}

std::string readText(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool writeText(const fs::path &p, const std::string &text) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << text;
    return bool(out.flush());
}

// Inserts `line` before `closing` unless `marker` is already there.
bool ensureLine(const fs::path &file, const std::string &marker, const std::string &line,
                const std::string &closing) {
    std::string text = readText(file);
    if (text.find(marker) != std::string::npos)
        return true;
    const auto at = text.rfind(closing);
    if (at == std::string::npos)
        return false;
    text.insert(at, line + "\n");
    return writeText(file, text);
}

// LibreOffice copies its presets into a new profile and marks it complete only
// when it shuts down, which an engine never does; a profile made here is
// complete before the first start, so the macro library survives.
std::string prepareProfile(const fs::path &profile, const fs::path &programDir) {
    std::error_code ec;
    const fs::path user = profile / "user";
    const fs::path basic = user / "basic";
    if (!fs::exists(basic / "script.xlc")) {
        const fs::path presets = programDir.parent_path() / "presets";
        fs::create_directories(user, ec);
        fs::copy(presets, user, fs::copy_options::recursive | fs::copy_options::skip_existing, ec);
        if (ec || !fs::exists(basic / "script.xlc"))
            return "cannot copy the LibreOffice presets from " + presets.string();
    }
    const fs::path registry = user / "registrymodifications.xcu";
    if (!fs::exists(registry) &&
        !writeText(registry,
                   "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                   "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
                   "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
                   "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n</oor:items>\n"))
        return "cannot write " + registry.string();
    if (!ensureLine(registry, "ooSetupInstCompleted", kSetupDone, "</oor:items>"))
        return "cannot update " + registry.string();
    const fs::path library = basic / "QuorvelEngine";
    fs::create_directories(library, ec);
    if (!writeText(library / "script.xlb", kLibraryIndex) ||
        !writeText(library / "Convert.xba", kMacroModule))
        return "cannot write the conversion macro into " + library.string();
    if (!ensureLine(basic / "script.xlc", "\"QuorvelEngine\"", kLibraryEntry,
                    "</library:libraries>"))
        return "cannot register the conversion macro in " + (basic / "script.xlc").string();
    return {};
}

std::string fileUrl(const fs::path &p) {
    static const char *hex = "0123456789ABCDEF";
    std::string url = "file://";
    for (unsigned char c : p.string()) {
        if (std::isalnum(c) || std::strchr("/-._~", c)) {
            url += char(c);
        } else {
            url += '%';
            url += hex[c >> 4];
            url += hex[c & 15];
        }
    }
    return url;
}

class Office {
public:
    Office(LibreOfficeKit *kit, fs::path status)
        : m_kit(kit)
        , m_status(std::move(status)) {
        ::setenv("QUORVEL_STATUS", m_status.c_str(), 1);
    }

    // Runs one macro of the library; returns "ok" or "error …".
    std::string run(const char *macro) {
        std::error_code ec;
        fs::remove(m_status, ec);
        const int done = m_kit->pClass->runMacro(m_kit, macro);
        std::string status = readText(m_status);
        while (!status.empty() && (status.back() == '\n' || status.back() == '\r'))
            status.pop_back();
        if (!status.empty())
            return status;
        char *err = m_kit->pClass->getError(m_kit);
        std::string why = err && *err ? err : "no answer from the conversion macro";
        if (err)
            m_kit->pClass->freeError(err);
        return done ? "error " + why : "error the conversion macro did not run: " + why;
    }

    std::string convert(const std::string &input, const std::string &output,
                        const std::string &importFilter, const std::string &exportFilter) {
        ::setenv("QUORVEL_INPUT", input.c_str(), 1);
        ::setenv("QUORVEL_OUTPUT", output.c_str(), 1);
        ::setenv("QUORVEL_IMPORT_FILTER", importFilter.c_str(), 1);
        ::setenv("QUORVEL_EXPORT_FILTER", exportFilter.c_str(), 1);
        return run("macro:///QuorvelEngine.Convert.Run()");
    }

private:
    LibreOfficeKit *m_kit;
    fs::path m_status;
};

std::vector<std::string> splitTabs(const std::string &line) {
    std::vector<std::string> out;
    size_t start = 0;
    while (true) {
        const size_t tab = line.find('\t', start);
        out.push_back(
            line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos)
            return out;
        start = tab + 1;
    }
}

} // namespace

int main(int argc, char **argv) {
    // The answers get a descriptor of their own; LibreOffice's chatter on
    // standard output joins standard error in the log.
    g_answers = ::dup(STDOUT_FILENO);
    ::dup2(STDERR_FILENO, STDOUT_FILENO);

    fs::path profile, programDir = "/usr/lib/libreoffice/program";
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--profile" && i + 1 < argc)
            profile = argv[++i];
        else if (a == "--program-dir" && i + 1 < argc)
            programDir = argv[++i];
        else
            fail("usage: quorvel-office-engine --profile DIR [--program-dir DIR]");
    }
    if (profile.empty())
        fail("usage: quorvel-office-engine --profile DIR [--program-dir DIR]");
    profile = fs::absolute(profile);
    std::error_code ec;
    fs::create_directories(profile, ec);
    if (const std::string why = prepareProfile(profile, programDir); !why.empty())
        fail(why);

    const auto started = std::chrono::steady_clock::now();
    LibreOfficeKit *kit = lok_init_2(programDir.c_str(), fileUrl(profile).c_str());
    if (!kit)
        fail("LibreOffice could not be loaded from " + programDir.string());
    Office office(kit, profile / "engine-status");
    if (const std::string ping = office.run("macro:///QuorvelEngine.Convert.Ping()"); ping != "ok")
        fail("the conversion macro is not available: " + ping);

    const fs::path warm = profile / "warm-up";
    fs::create_directories(warm, ec);
    if (writeText(warm / "page.html", kWarmUpPage)) {
        office.convert(fileUrl(warm / "page.html"), fileUrl(warm / "page.docx"),
                       "HTML (StarWriter)", "MS Word 2007 XML");
        office.convert(fileUrl(warm / "page.docx"), fileUrl(warm / "page.pdf"), "", "pdf");
    }
    fs::remove_all(warm, ec);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::fprintf(stderr, "quorvel-office-engine: LibreOffice loaded in %.2f s\n", seconds);
    std::fflush(stderr);
    answer("ready");

    std::string line;
    while (std::getline(std::cin, line)) {
        const std::vector<std::string> f = splitTabs(line);
        if (f.size() != 5 || f[0] != "convert" || f[1].rfind("file://", 0) != 0 ||
            f[2].rfind("file://", 0) != 0 || f[4].empty()) {
            answer("error malformed request");
            continue;
        }
        answer(office.convert(f[1], f[2], f[3], f[4]));
    }
    // Tearing LibreOffice down is slow and has crashed at exit; nothing is left to save.
    std::fflush(stderr);
    ::_exit(0);
}
