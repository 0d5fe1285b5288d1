#include "app/InterferenceCheck.h"

#include "model/Document.h"
#include "model/ExecContext.h"

#include <BRepAlgoAPI_Common.hxx>
#include <BRepBndLib.hxx>
#include <BRep_Builder.hxx>
#include <Bnd_Box.hxx>
#include <Standard_ErrorHandler.hxx>
#include <Standard_Failure.hxx>
#include <TopoDS_Compound.hxx>

#include <QLocale>

namespace qor::app {

namespace {

Bnd_Box boxOf(const TopoDS_Shape& shape)
{
    Bnd_Box box;
    BRepBndLib::Add(shape, box, Standard_True);
    return box;
}

} // namespace

std::optional<TopoDS_Shape> kernelCommon(const TopoDS_Shape& a, const TopoDS_Shape& b)
{
    try {
        OCC_CATCH_SIGNALS
        BRepAlgoAPI_Common common;
        model::buildKeepingInputs(common, a, b);
        if (!common.IsDone())
            return std::nullopt;
        return common.Shape();
    } catch (const Standard_Failure&) {
        return std::nullopt;
    }
}

InterferenceReport checkInterference(const std::vector<CheckedBody>& bodies,
                                     const CommonOperation& common)
{
    InterferenceReport report;
    const QLocale german(QLocale::German, QLocale::Germany);
    TopoDS_Compound overlaps;
    BRep_Builder builder;
    builder.MakeCompound(overlaps);
    bool anyOverlap = false;
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        for (std::size_t j = i + 1; j < bodies.size(); ++j) {
            const CheckedBody& a = bodies[i];
            const CheckedBody& b = bodies[j];
            if (boxOf(a.shape).IsOut(boxOf(b.shape)))
                continue;
            const QString pair = QStringLiteral("%1 ↔ %2: ").arg(a.name, b.name);
            const std::optional<TopoDS_Shape> overlap = common(a.shape, b.shape);
            if (!overlap) {
                report.lines << pair + QStringLiteral("Prüfung fehlgeschlagen");
                ++report.failedPairs;
                continue;
            }
            const double volume = qor::model::shapeVolume(*overlap);
            if (volume <= 1e-6)
                continue;
            report.lines << pair + QStringLiteral("%1 mm³").arg(german.toString(volume, 'f', 3));
            builder.Add(overlaps, *overlap);
            anyOverlap = true;
        }
    }
    if (anyOverlap)
        report.overlaps = overlaps;
    return report;
}

std::vector<CheckedBody> interferenceBodies(const qor::model::Document& document)
{
    std::vector<CheckedBody> bodies;
    for (const auto& [id, body] : document.current.bodies.get())
        bodies.push_back({document.bodyName(id), body.shape});
    return bodies;
}

} // namespace qor::app
