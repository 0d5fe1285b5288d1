#pragma once

#include <QString>

namespace qor::io {

// What a reader's note on the bodies it built says. A loss: something of the file is missing
// from the bodies or could not be read (faces, bodies or data left out, a failure). An
// approximation: nothing is missing, some geometry was only built another way than the file
// describes it (a curve through sampled points, a blend over circular sections, a widened
// tolerance).
enum class NoteKind { loss, approximation };

// The approximations the readers note; each has one fixed text.
enum class Approximation {
    lemonTorus,
    rollingBallBlends,
    swappedEllipseAxes,
    intersectionCurves,
    surfaceParameterCurves,
    refittedEdges,
    widenedEdges,
    tolerantEdges,
    filledSplineSurfaces,
};

// The German text of the note.
QString approximationNote(Approximation approximation);

// The kind of one note: an approximation when it is one of approximationNote's texts, else a
// loss, so that a note whose reader gives no kind still counts as something missing.
NoteKind noteKind(const QString& note);

// True when a warning, its notes joined by "; " as readers and component loads write it,
// holds at least one note of a loss.
bool tellsOfLoss(const QString& warning);

} // namespace qor::io
