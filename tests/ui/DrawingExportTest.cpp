#include "drawing/render/DrawingExport.h"
#include "app/Examples.h"
#include "drawing/Dimensions.h"
#include "drawing/LabelLayout.h"
#include "drawing/ViewLayout.h"
#include "drawing/render/SheetRenderer.h"
#include "io/Import.h"
#include "model/DocumentController.h"
#include "tests/common/ChildGuard.h"
#include "tests/common/DxfAudit.h"
#include "tests/common/PdfInfo.h"
#include "tests/common/ShapeChecks.h"
#include "tests/common/SmallFileSystem.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

namespace {

using qor::app::Drawing;

// An example part with its default sheet: the standard views, automatic dimensions
// and a filled title block.
struct ExampleSheet {
    qor::app::DocumentController controller;
    qor::app::ProjectionCache cache;
    Drawing sheet;

    explicit ExampleSheet(const QString& kind, const QString& format = QStringLiteral("A3"))
    {
        qor::app::buildExample(controller, kind);
        sheet.format = format;
        qor::app::arrangeViews(cache, doc(), sheet);
        qor::app::autoDimension(cache, doc(), sheet);
        sheet.title = {{QStringLiteral("Benennung"), kind},
                       {QStringLiteral("Zeichnungsnummer"), QStringLiteral("Z-0815")},
                       {QStringLiteral("Werkstoff"), QStringLiteral("Stahl")},
                       {QStringLiteral("Maßstab"), qor::app::scaleText(sheet.scale)},
                       {QStringLiteral("Gezeichnet"), QStringLiteral("prüfer")},
                       {QStringLiteral("Datum"), QStringLiteral("07.12.2026")},
                       {QStringLiteral("Firma"), QStringLiteral("Tarnwick")}};
    }

    const qor::model::Document& doc() const { return *controller.document; }
    bool write(const QString& path, QString* error = nullptr)
    {
        return qor::app::writeDrawing(cache, doc(), sheet, path, error);
    }
};

// Root attributes of an SVG file, read as plain XML.
std::map<QString, QString> svgRoot(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QXmlStreamReader xml(&file);
    while (xml.readNextStartElement()) {
        if (xml.name() != QStringLiteral("svg"))
            return {};
        std::map<QString, QString> out;
        for (const QXmlStreamAttribute& a : xml.attributes())
            out[a.name().toString()] = a.value().toString();
        return out;
    }
    return {};
}

using qor::test::pdfPageSize;

TEST(DrawingExport, BracketSheetInAllFourFormats)
{
    ExampleSheet bracket(QStringLiteral("bracket"));
    QTemporaryDir dir;
    const QString base = dir.filePath(QStringLiteral("halter"));

    ASSERT_TRUE(bracket.write(base + QStringLiteral(".png")));
    const QImage png(base + QStringLiteral(".png"));
    EXPECT_EQ(png.size(), QSize(4960, 3507));
    EXPECT_EQ(png.dotsPerMeterX(), 11811); // 300 dpi
    // The frame's left edge runs at 20 mm, i.e. from pixel 236.
    EXPECT_LT(qGray(png.pixel(237, png.height() / 3)), 60);
    EXPECT_EQ(png.pixel(100, png.height() / 3), qRgb(255, 255, 255));

    ASSERT_TRUE(bracket.write(base + QStringLiteral(".svg")));
    auto root = svgRoot(base + QStringLiteral(".svg"));
    EXPECT_EQ(root[QStringLiteral("viewBox")], QStringLiteral("0 0 1680 1188"));
    // 1680 × 1188 pixels at 101 dpi.
    EXPECT_NEAR(root[QStringLiteral("width")].chopped(2).toDouble(), 1680 / 101.0 * 25.4, 0.01);
    EXPECT_NEAR(root[QStringLiteral("height")].chopped(2).toDouble(), 1188 / 101.0 * 25.4, 0.01);

    ASSERT_TRUE(bracket.write(base + QStringLiteral(".pdf")));
    EXPECT_EQ(pdfPageSize(base + QStringLiteral(".pdf")), "1191 x 842");

    ASSERT_TRUE(bracket.write(base + QStringLiteral(".dxf")));
    const auto audit = qor::test::auditDxf(base + QStringLiteral(".dxf"));
    ASSERT_TRUE(audit.ran) << audit.report.toStdString();
    EXPECT_EQ(audit.errors, 0) << audit.report.toStdString();
    EXPECT_EQ(audit.layers.mid(0, 8),
              QStringList({"SICHTBAR", "VERDECKT", "MITTELLINIEN", "BEMASSUNG", "RAHMEN", "TEXT",
                           "GEWINDE", "SCHRAFFUR"}));
}

TEST(DrawingExport, A4PngAndPdfFollowThePaper)
{
    ExampleSheet bracket(QStringLiteral("bracket"), QStringLiteral("A4"));
    QTemporaryDir dir;
    ASSERT_TRUE(bracket.write(dir.filePath(QStringLiteral("a4.png"))));
    EXPECT_EQ(QImage(dir.filePath(QStringLiteral("a4.png"))).size(), QSize(3507, 2480));
    ASSERT_TRUE(bracket.write(dir.filePath(QStringLiteral("a4.PDF"))));
    EXPECT_EQ(pdfPageSize(dir.filePath(QStringLiteral("a4.PDF"))), "842 x 595");
}

TEST(DrawingExport, PathsGetAKnownSuffixAndFailuresAreReported)
{
    struct Case {
        const char* chosen;
        const char* filter;
        const char* path;
    };
    for (const Case& c : {Case{"/t/teil", "PNG 300 dpi (*.png)", "/t/teil.png"},
                          Case{"/t/teil.txt", "DXF (*.dxf)", "/t/teil.txt.dxf"},
                          Case{"/t/teil.SVG", "PDF (*.pdf)", "/t/teil.SVG"}})
        EXPECT_EQ(qor::app::drawingExportPath(QString::fromLatin1(c.chosen),
                                              QString::fromLatin1(c.filter)),
                  QString::fromLatin1(c.path));

    qor::app::DocumentController controller;
    qor::app::ProjectionCache cache;
    const Drawing sheet;
    QTemporaryDir dir;
    EXPECT_FALSE(qor::app::writeDrawing(cache, *controller.document, sheet,
                                        dir.filePath(QStringLiteral("teil.txt"))));
    EXPECT_TRUE(QDir(dir.path()).isEmpty());
    for (const char* suffix : {"pdf", "svg", "png", "dxf"}) {
        const QString path = dir.filePath(QStringLiteral("fehlt/teil.") + QLatin1String(suffix));
        EXPECT_FALSE(qor::app::writeDrawing(cache, *controller.document, sheet, path)) << suffix;
    }
}

// On a disk that runs full midway every format fails with the reason, the old export stays
// byte for byte and no temporary file is left beside it.
TEST(DrawingExport, FullDiskKeepsTheOldFileAndSaysSo)
{
    ExampleSheet bracket(QStringLiteral("bracket"));
    constexpr qint64 room = 16 * 1024;
    const QStringList formats{QStringLiteral("dxf"), QStringLiteral("pdf"), QStringLiteral("png"),
                              QStringLiteral("svg")};
    // Each export must be larger than the room left, so that the writer starts and runs out.
    QTemporaryDir scratch;
    for (const QString& format : formats) {
        const QString path = scratch.filePath(QStringLiteral("blatt.") + format);
        ASSERT_TRUE(bracket.write(path)) << format.toStdString();
        EXPECT_GT(QFileInfo(path).size(), room) << format.toStdString();
    }
    QTemporaryDir dir;
    const auto report = qor::test::onSmallFileSystem(dir.path(), 256, [&]() -> QByteArray {
        QByteArray out;
        for (const QString& format : formats) {
            QFile old(dir.filePath(QStringLiteral("blatt.") + format));
            if (!old.open(QIODevice::WriteOnly) || old.write("alter Export " + format.toUtf8()) < 0)
                return "old export not written";
        }
        if (!qor::test::fillFileSystem(dir.path(), room))
            return "disk not filled";
        for (const QString& format : formats) {
            const QString path = dir.filePath(QStringLiteral("blatt.") + format);
            QString error;
            const bool written = bracket.write(path, &error);
            const QByteArray now = qor::test::readFile(path);
            out += format.toUtf8() + ": " + (written ? "geschrieben" : error.toUtf8()) + " / "
                   + (now == "alter Export " + format.toUtf8()
                          ? QByteArray("alt")
                          : "ersetzt durch " + QByteArray::number(now.size()) + " Bytes")
                   + '\n';
        }
        return out + QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).join(u' ').toUtf8();
    });
    if (!report)
        GTEST_SKIP() << "no mount namespace for a small file system here";
    QByteArray expected;
    for (const QString& format : formats)
        expected += format.toUtf8()
                    + ": Die Datei konnte nicht geschrieben werden (Datenträger voll). / alt\n";
    expected += "blatt.dxf blatt.pdf blatt.png blatt.svg fuellung";
    EXPECT_EQ(report->toStdString(), expected.toStdString());
}

// The texts of the dimensions the sheet draws, as the window shows them.
QStringList shownDimensionTexts(qor::app::ProjectionCache& cache, const qor::model::Document& doc,
                                const Drawing& sheet)
{
    QStringList out;
    for (const Drawing::Dim* dim : qor::app::drawnDimensions(cache, doc, sheet)) {
        const Drawing::View& view = *qor::app::dimensionView(sheet, *dim);
        const qor::app::ProjectedView& pv = cache.projectedView(doc, sheet, view);
        const bool radial = dim->kind == int(qor::app::DimKind::Diameter)
                            || dim->kind == int(qor::app::DimKind::Radius);
        out << (radial ? qor::app::radialDimension(sheet, view, pv, *dim).text
                       : qor::app::dimensionText(
                           *dim, qor::app::linearDimension(sheet, view, pv, *dim).value));
    }
    return out;
}

int calloutCount(qor::app::ProjectionCache& cache, const qor::model::Document& doc,
                 const Drawing& sheet)
{
    int count = 0;
    for (const Drawing::View& view : sheet.views) {
        const qor::app::ProjectedView& pv = cache.projectedView(doc, sheet, view);
        for (const qor::app::ThreadCallout& callout : pv.callouts)
            count += qor::app::placeCallout(sheet, view, pv, callout).has_value();
    }
    return count;
}

QStringList svgTexts(const QString& path)
{
    QFile file(path);
    QStringList out;
    if (!file.open(QIODevice::ReadOnly))
        return out;
    QXmlStreamReader xml(&file);
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"text")
            out << xml.readElementText().trimmed();
    }
    return out;
}

// The words of a PDF's text as poppler's pdftotext reads them.
QStringList pdfWords(const QString& path)
{
    QProcess pdftotext;
    pdftotext.start(QStringLiteral("pdftotext"), {path, QStringLiteral("-")});
    if (!pdftotext.waitForFinished(qor::test::childGuardMs))
        return {};
    return QString::fromUtf8(pdftotext.readAllStandardOutput())
        .split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
}

// The expected texts that found lacks, counting repeats.
QStringList missingFrom(const QStringList& expected, QStringList found)
{
    QStringList missing;
    for (const QString& text : expected) {
        if (!found.removeOne(text))
            missing << text;
    }
    return missing;
}

// Every dimension the sheet shows is in the PDF, the SVG and the DXF, with its text.
void expectEveryShownDimensionExported(qor::app::ProjectionCache& cache,
                                       const qor::model::Document& doc, const Drawing& sheet)
{
    const QStringList shown = shownDimensionTexts(cache, doc, sheet);
    EXPECT_EQ(shown.size(), qsizetype(sheet.dims.size()));
    QTemporaryDir dir;
    const QString base = dir.filePath(QStringLiteral("blatt."));
    for (const char* format : {"pdf", "svg", "dxf"})
        ASSERT_TRUE(qor::app::writeDrawing(cache, doc, sheet, base + QLatin1String(format)))
            << format;
    EXPECT_EQ(missingFrom(shown, pdfWords(base + QStringLiteral("pdf"))).join(u' ').toStdString(),
              "");
    EXPECT_EQ(missingFrom(shown, svgTexts(base + QStringLiteral("svg"))).join(u' ').toStdString(),
              "");
    // The DXF's dimension layer holds the dimensions and the thread callouts, nothing else;
    // its diameter sign is the control code a reader turns into "Ø".
    const QStringList dxf
        = qor::test::dxfTexts(base + QStringLiteral("dxf"), QStringLiteral("BEMASSUNG"));
    QStringList shownInDxf = shown;
    shownInDxf.replaceInStrings(QStringLiteral("⌀"), QStringLiteral("Ø"));
    EXPECT_EQ(missingFrom(shownInDxf, dxf).join(u' ').toStdString(), "")
        << dxf.join(u' ').toStdString();
    EXPECT_EQ(dxf.size(), shown.size() + calloutCount(cache, doc, sheet));
}

// Linear, aligned, diameter and radius dimensions, measured and with their own text, reach
// every format: the DXF used to leave diameters and radii out.
TEST(DrawingExport, EveryDimensionTheSheetShowsIsInEveryFormat)
{
    ExampleSheet flange(QStringLiteral("flange"));
    Drawing& sheet = flange.sheet;
    const auto first = [&sheet](qor::app::DimKind kind) {
        return *std::find_if(sheet.dims.begin(), sheet.dims.end(),
                             [kind](const Drawing::Dim& d) { return d.kind == int(kind); });
    };
    Drawing::Dim radius = first(qor::app::DimKind::Diameter);
    radius.id = sheet.nextId++;
    radius.kind = int(qor::app::DimKind::Radius);
    radius.text = QStringLiteral("@100");
    Drawing::Dim aligned = first(qor::app::DimKind::Horizontal);
    aligned.id = sheet.nextId++;
    aligned.kind = int(qor::app::DimKind::Aligned);
    aligned.offset = -25.0;
    aligned.text = QStringLiteral("Prüfmaß");
    sheet.dims.push_back(radius);
    sheet.dims.push_back(aligned);
    const QStringList shown = shownDimensionTexts(flange.cache, flange.doc(), sheet);
    ASSERT_EQ(shown.filter(QStringLiteral("⌀")).size(), 4);
    ASSERT_EQ(shown.filter(QRegularExpression(QStringLiteral("^R"))).size(), 1);
    ASSERT_TRUE(shown.contains(QStringLiteral("Prüfmaß")));
    expectEveryShownDimensionExported(flange.cache, flange.doc(), sheet);
}

TEST(DrawingExport, RealPartKeepsEveryDimension)
{
    const QString path = QStringLiteral(QOR_READER_FILES "/TripodLeg v20.par");
    if (!QFile::exists(path))
        GTEST_SKIP() << "no " << path.toStdString();
    const qor::io::ImportResult imported = qor::io::importFile(path, {});
    ASSERT_TRUE(imported.ok) << imported.error.toStdString();
    qor::model::Document doc;
    int id = 0;
    for (const qor::io::ImportedBody& body : imported.bodies) {
        ++id;
        doc.current.bodies[id] = qor::model::Body{.id = id, .shape = body.shape};
    }
    qor::app::ProjectionCache cache;
    Drawing sheet;
    qor::app::arrangeViews(cache, doc, sheet);
    qor::app::autoDimension(cache, doc, sheet);
    ASSERT_FALSE(sheet.dims.empty());
    expectEveryShownDimensionExported(cache, doc, sheet);
}

// Sheet rectangle of a view's placed projection.
QRectF placedBounds(ExampleSheet& example, const Drawing::View& view)
{
    const auto& pv = example.cache.projectedView(example.doc(), example.sheet, view);
    return QRectF(qor::app::viewToSheet(example.sheet, view, pv, pv.minX, pv.minY),
                  qor::app::viewToSheet(example.sheet, view, pv, pv.maxX, pv.maxY))
        .normalized();
}

// Writes each example's sheet for people to look at, and checks that the views sit
// inside the frame, clear of the title block and of each other.
TEST(DrawingExport, ExampleSheetsLayOutTheirViews)
{
    const QString shots = QStringLiteral(QOR_TEST_OUTPUT "/drawing-shots");
    QDir().mkpath(shots);
    for (const char* kind : {"bracket", "flange", "housing"}) {
        SCOPED_TRACE(kind);
        ExampleSheet example{QString::fromLatin1(kind)};
        ASSERT_TRUE(example.write(shots + u'/' + QLatin1String(kind) + QStringLiteral(".png")));
        const QRectF frame(20, 10, 390, 277);
        const QRectF titleBlock(230, 10, 180, 36);
        std::vector<QRectF> placed;
        for (const Drawing::View& view : example.sheet.views) {
            const QRectF r = placedBounds(example, view);
            EXPECT_TRUE(frame.contains(r)) << "view " << view.type;
            EXPECT_FALSE(r.intersects(titleBlock)) << "view " << view.type;
            for (const QRectF& other : placed)
                EXPECT_FALSE(r.intersects(other)) << "view " << view.type;
            placed.push_back(r);
        }
    }
}

// On screen the selected view and dimension turn blue; without a highlight (as in every
// export) nothing is blue.
TEST(DrawingExport, HighlightOnlyOnScreen)
{
    ExampleSheet flange(QStringLiteral("flange"));
    const auto bluePixels = [&](const qor::app::SheetHighlight* highlight) {
        QImage image(840, 594, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        qor::app::renderSheet(&painter, QTransform(2, 0, 0, -2, 0, 594), flange.cache, flange.doc(),
                              flange.sheet, highlight);
        painter.end();
        int count = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x)
                count += qBlue(image.pixel(x, y)) > 150 && qRed(image.pixel(x, y)) < 100;
        }
        return count;
    };
    qor::app::SheetHighlight highlight;
    highlight.selectedView = flange.sheet.views.front().id;
    EXPECT_EQ(bluePixels(nullptr), 0);
    EXPECT_GT(bluePixels(&highlight), 500);
}

} // namespace
