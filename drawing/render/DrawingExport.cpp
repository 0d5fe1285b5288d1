#include "drawing/render/DrawingExport.h"

#include "drawing/DxfWriter.h"
#include "drawing/render/SheetRenderer.h"

#include <QFileInfo>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
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

bool writePdf(ProjectionCache& cache, const qor::model::Document& document, const Drawing& sheet,
              const QString& path)
{
    const QSizeF paper = paperSize(sheet.format);
    QPdfWriter pdf(path);
    pdf.setPageSize(QPageSize(paper, QPageSize::Millimeter));
    pdf.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
    pdf.setResolution(1200);
    pdf.setTitle(titleValue(sheet, QStringLiteral("Benennung")));
    pdf.setCreator(QStringLiteral("QorCAD"));
    return paintSheet(&pdf, pdfDotsPerMm, cache, document, sheet);
}

bool writeSvg(ProjectionCache& cache, const qor::model::Document& document, const Drawing& sheet,
              const QString& path)
{
    const QSizeF paper = paperSize(sheet.format);
    QSvgGenerator svg;
    svg.setFileName(path);
    svg.setSize(QSize(static_cast<int>(std::floor(svgUnitsPerMm * paper.width())),
                      static_cast<int>(std::floor(svgUnitsPerMm * paper.height()))));
    svg.setViewBox(QRectF(0, 0, svgUnitsPerMm * paper.width(), svgUnitsPerMm * paper.height()));
    svg.setResolution(101);
    svg.setTitle(titleValue(sheet, QStringLiteral("Benennung")));
    return paintSheet(&svg, svgUnitsPerMm, cache, document, sheet);
}

bool writePng(ProjectionCache& cache, const qor::model::Document& document, const Drawing& sheet,
              const QString& path)
{
    const QSizeF paper = paperSize(sheet.format);
    QImage image(static_cast<int>(std::floor(pngDotsPerMm * paper.width())),
                 static_cast<int>(std::floor(pngDotsPerMm * paper.height())), QImage::Format_RGB32);
    image.fill(Qt::white);
    // Without this the file would claim the screen's 96 dpi and print far too large.
    image.setDotsPerMeterX(std::lround(pngDotsPerMm * 1000.0));
    image.setDotsPerMeterY(std::lround(pngDotsPerMm * 1000.0));
    if (!paintSheet(&image, pngDotsPerMm, cache, document, sheet))
        return false;
    return image.save(path, "PNG");
}

bool writeDxf(ProjectionCache& cache, const qor::model::Document& document, const Drawing& sheet,
              const QString& path)
{
    const QByteArray text = drawingDxf(cache, document, sheet);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(text) != text.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
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
                  const Drawing& sheet, const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QStringLiteral("pdf"))
        return writePdf(cache, document, sheet, path);
    if (suffix == QStringLiteral("svg"))
        return writeSvg(cache, document, sheet, path);
    if (suffix == QStringLiteral("png"))
        return writePng(cache, document, sheet, path);
    if (suffix == QStringLiteral("dxf"))
        return writeDxf(cache, document, sheet, path);
    return false;
}

} // namespace qor::app
