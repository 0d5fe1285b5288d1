#include "drawing/render/DrawingExport.h"

#include "drawing/DxfWriter.h"
#include "drawing/render/SheetRenderer.h"
#include "io/FileReplace.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSvgGenerator>

#include <cmath>

namespace qor::app {

namespace {

constexpr double pdfDotsPerMm = 1200.0 / 25.4;
constexpr double pngDotsPerMm = 300.0 / 25.4;
constexpr double svgUnitsPerMm = 4.0;

bool knownFormat(const QString& suffix)
{
    static const QStringList formats{QStringLiteral("pdf"), QStringLiteral("svg"),
                                     QStringLiteral("png"), QStringLiteral("dxf")};
    return formats.contains(suffix.toLower());
}

// Sheet millimetres (y up) to a device of k units per millimetre (y down).
QTransform deviceTransform(double k, double sheetHeight)
{
    return QTransform(k, 0, 0, -k, 0, k * sheetHeight);
}

bool paintSheet(QPaintDevice* device, double k, ProjectionCache& cache,
                const qor::model::Document& document, const Drawing& sheet)
{
    QPainter painter;
    if (!painter.begin(device))
        return false;
    renderSheet(&painter, deviceTransform(k, paperSize(sheet.format).height()), cache, document,
                sheet);
    return painter.end();
}

// The formats painted through Qt are painted into memory first: its PDF and SVG writers
// report nothing when their device fails, and a cut-off file must never replace the old one.
QByteArray pdfBytes(ProjectionCache& cache, const qor::model::Document& document,
                    const Drawing& sheet)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    const QSizeF paper = paperSize(sheet.format);
    bool painted = false;
    {
        QPdfWriter pdf(&buffer);
        pdf.setPageSize(QPageSize(paper, QPageSize::Millimeter));
        pdf.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
        pdf.setResolution(1200);
        pdf.setTitle(titleValue(sheet, QStringLiteral("Benennung")));
        pdf.setCreator(QStringLiteral("QorCAD"));
        painted = paintSheet(&pdf, pdfDotsPerMm, cache, document, sheet);
    }
    return painted ? bytes : QByteArray();
}

QByteArray svgBytes(ProjectionCache& cache, const qor::model::Document& document,
                    const Drawing& sheet)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    const QSizeF paper = paperSize(sheet.format);
    QSvgGenerator svg;
    svg.setOutputDevice(&buffer);
    svg.setSize(QSize(static_cast<int>(std::floor(svgUnitsPerMm * paper.width())),
                      static_cast<int>(std::floor(svgUnitsPerMm * paper.height()))));
    svg.setViewBox(QRectF(0, 0, svgUnitsPerMm * paper.width(), svgUnitsPerMm * paper.height()));
    svg.setResolution(101);
    svg.setTitle(titleValue(sheet, QStringLiteral("Benennung")));
    return paintSheet(&svg, svgUnitsPerMm, cache, document, sheet) ? bytes : QByteArray();
}

QByteArray pngBytes(ProjectionCache& cache, const qor::model::Document& document,
                    const Drawing& sheet)
{
    const QSizeF paper = paperSize(sheet.format);
    QImage image(static_cast<int>(std::floor(pngDotsPerMm * paper.width())),
                 static_cast<int>(std::floor(pngDotsPerMm * paper.height())), QImage::Format_RGB32);
    if (image.isNull())
        return {};
    image.fill(Qt::white);
    // Without this the file would claim the screen's 96 dpi and print far too large.
    image.setDotsPerMeterX(std::lround(pngDotsPerMm * 1000.0));
    image.setDotsPerMeterY(std::lround(pngDotsPerMm * 1000.0));
    if (!paintSheet(&image, pngDotsPerMm, cache, document, sheet))
        return {};
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    return image.save(&buffer, "PNG") ? bytes : QByteArray();
}

} // namespace

QString drawingExportFilters()
{
    return QStringLiteral("PDF (*.pdf);;SVG (*.svg);;DXF (*.dxf);;PNG 300 dpi (*.png)");
}

QString drawingExportPath(const QString& chosen, const QString& selectedFilter)
{
    if (knownFormat(QFileInfo(chosen).suffix()))
        return chosen;
    const qsizetype star = selectedFilter.indexOf(QStringLiteral("*."));
    const QString extension = star < 0 ? QStringLiteral("pdf") : selectedFilter.mid(star + 2, 3);
    return chosen + u'.' + extension;
}

bool writeDrawing(ProjectionCache& cache, const qor::model::Document& document,
                  const Drawing& sheet, const QString& path, QString* error)
{
    const QString failure = QStringLiteral("Die Datei konnte nicht geschrieben werden");
    const auto fail = [&](const QString& text) {
        if (error)
            *error = text + u'.';
        return false;
    };
    const QString suffix = QFileInfo(path).suffix().toLower();
    QByteArray bytes;
    if (suffix == QStringLiteral("pdf"))
        bytes = pdfBytes(cache, document, sheet);
    else if (suffix == QStringLiteral("svg"))
        bytes = svgBytes(cache, document, sheet);
    else if (suffix == QStringLiteral("png"))
        bytes = pngBytes(cache, document, sheet);
    else if (suffix == QStringLiteral("dxf"))
        bytes = drawingDxf(cache, document, sheet);
    if (bytes.isEmpty())
        return fail(failure);
    const QString refused = qor::io::replaceFile(path, bytes, failure);
    return refused.isEmpty() || fail(refused);
}

} // namespace qor::app
