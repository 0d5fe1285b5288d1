#include "drawing/render/DrawingExport.h"
#include "app/Examples.h"
#include "drawing/Dimensions.h"
#include "drawing/ViewLayout.h"
#include "drawing/render/SheetRenderer.h"
#include "model/DocumentController.h"
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
