#include "io/NoteKind.h"

#include <QStringList>

#include <algorithm>
#include <array>
#include <utility>

namespace qor::io {

namespace {

using ApproximationText = std::pair<Approximation, const char*>;

constexpr std::array approximationTexts = {
    ApproximationText{Approximation::lemonTorus, "Zitronen-Torus angenähert"},
    ApproximationText{Approximation::rollingBallBlends,
                      "Rollkugel-Verrundungen über Kreisquerschnitte angenähert"},
    ApproximationText{Approximation::swappedEllipseAxes,
                      "Ellipse mit vertauschten Halbachsen gedreht"},
    ApproximationText{Approximation::intersectionCurves,
                      "Schnittkurven über Stützpunkte angenähert"},
    ApproximationText{Approximation::surfaceParameterCurves, "Flächenparameter-Kurven angenähert"},
    ApproximationText{Approximation::refittedEdges, "Einzelne Kanten neu angepasst"},
    ApproximationText{Approximation::widenedEdges, "Einzelne Kanten mit erhöhter Toleranz"},
    ApproximationText{Approximation::tolerantEdges, "Tolerante Kanten aus Flächenkurven aufgebaut"},
    ApproximationText{Approximation::filledSplineSurfaces,
                      "Spline-Flächen (Verrundungen u. a.) aus ihren Randkurven aufgebaut"},
};

} // namespace

QString approximationNote(Approximation approximation)
{
    const auto entry = std::find_if(
        approximationTexts.begin(), approximationTexts.end(),
        [approximation](const ApproximationText& text) { return text.first == approximation; });
    return entry == approximationTexts.end() ? QString() : QString::fromUtf8(entry->second);
}

NoteKind noteKind(const QString& note)
{
    const bool approximation = std::any_of(
        approximationTexts.begin(), approximationTexts.end(),
        [&note](const ApproximationText& text) { return note == QString::fromUtf8(text.second); });
    return approximation ? NoteKind::approximation : NoteKind::loss;
}

bool tellsOfLoss(const QString& warning)
{
    const QStringList notes = warning.split(QStringLiteral("; "), Qt::SkipEmptyParts);
    return std::any_of(notes.begin(), notes.end(),
                       [](const QString& note) { return noteKind(note) == NoteKind::loss; });
}

} // namespace qor::io
