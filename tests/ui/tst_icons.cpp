// Every icon the window names must map to a glyph the icon font draws as one glyph;
// an unmapped or misspelt ligature would draw as a row of letters or an empty box.
#include "FeatureType.h"
#include "Icons.h"
#include "conversion/OperationCatalogue.h"
#include "history/TaskLook.h"
#include "service/Operations.h"

#include <QDirIterator>
#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGlyphRun>
#include <QGuiApplication>
#include <QRawFont>
#include <QRegularExpression>
#include <QTest>
#include <QTextLayout>

#include <fontconfig/fontconfig.h>

using namespace quorvel;

class TestIcons : public QObject {
    Q_OBJECT

    // Identifiers named in the window's QML, by the tool table and by the assistant's features
    // and job types.
    static QSet<QString> usedIdentifiers() {
        QSet<QString> ids;
        const QRegularExpression named(
            QStringLiteral(R"re(\b(?:iconName|name|icon)\s*:\s*"([a-z0-9.]+)")re"));
        QDirIterator it(QStringLiteral(QUORVEL_SOURCE_DIR "/src"), {QStringLiteral("*.qml")},
                        QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile file(it.next());
            if (!file.open(QIODevice::ReadOnly))
                continue;
            // A state's name is not an icon.
            const QString text = QString::fromUtf8(file.readAll())
                                     .remove(QRegularExpression(QStringLiteral(
                                         "State\\s*\\{\\s*name\\s*:\\s*\"[^\"]*\"")));
            auto matches = named.globalMatch(text);
            while (matches.hasNext())
                ids.insert(matches.next().captured(1));
        }
        for (const auto &group : OperationCatalogue::toolGroups())
            for (const auto &row : group.rows)
                ids.insert(row.icon);
        for (FeatureType::Case feature : FeatureType::allCases()) {
            ids.insert(FeatureType::icon(feature));
            for (const FeatureType::Function &function : FeatureType::functions(feature))
                ids.insert(function.icon);
        }
        for (const char *typ : {"pdf2doc", "pdf2img", "pdf2txt", "pdf2ppt", "pdf2excel", "img2pdf"})
            ids.insert(TaskLook::typeIcon(QString::fromLatin1(typ)));
        for (const Operations::Operation &op : Operations::all())
            ids.insert(TaskLook::typeIcon(op.typeCode.toString().toLower()));
        return ids;
    }

private Q_SLOTS:
    // The app offers Qt only the TrueType file of the icon font; the rows below then draw
    // every icon from it.
    void initTestCase() {
        Icons::preferTrueTypeFont();
        FcPattern *pattern = FcPatternCreate();
        FcPatternAddString(pattern, FC_FAMILY,
                           reinterpret_cast<const FcChar8 *>(qPrintable(Icons::fontFamily())));
        FcObjectSet *objects = FcObjectSetBuild(FC_FILE, nullptr);
        FcFontSet *fonts = FcFontList(nullptr, pattern, objects);
        QStringList files;
        for (int i = 0; fonts && i < fonts->nfont; ++i) {
            FcChar8 *file = nullptr;
            if (FcPatternGetString(fonts->fonts[i], FC_FILE, 0, &file) == FcResultMatch)
                files << QString::fromUtf8(reinterpret_cast<const char *>(file));
        }
        FcFontSetDestroy(fonts);
        FcObjectSetDestroy(objects);
        FcPatternDestroy(pattern);
        QCOMPARE(files.size(), 1);
        QVERIFY2(files.constFirst().endsWith(QLatin1String(".ttf")),
                 qPrintable(files.constFirst()));
    }

    void everyUsedIconIsOneGlyph_data() {
        QTest::addColumn<QString>("identifier");
        const QSet<QString> ids = usedIdentifiers();
        QVERIFY(ids.size() > 15);
        for (const QString &id : ids)
            QTest::newRow(qPrintable(id)) << id;
    }

    void everyUsedIconIsOneGlyph() {
        QFETCH(QString, identifier);
        QVERIFY2(Icons::isKnown(identifier), "no glyph mapped");
        QFont font(Icons::fontFamily());
        font.setPixelSize(24);
        QCOMPARE(QFontInfo(font).family(), Icons::fontFamily());
        QTextLayout layout(Icons::ligature(identifier), font);
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        int glyphs = 0;
        for (const QGlyphRun &run : layout.glyphRuns()) {
            for (quint32 index : run.glyphIndexes()) {
                QVERIFY2(index != 0, "the font has no glyph for this ligature");
                ++glyphs;
            }
        }
        QCOMPARE(glyphs, 1);
    }
};

QTEST_MAIN(TestIcons)
#include "tst_icons.moc"
