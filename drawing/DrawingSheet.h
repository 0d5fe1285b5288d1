#pragma once

#include "model/DrawingRecord.h"

#include <QSizeF>
#include <QString>

#include <gp_Ax2.hxx>

namespace qor::app {

// German name of a view kind; empty for an unknown kind.
QString viewKindName(int kind);
// Projection frame: main direction toward the viewer, X direction the sheet's x axis.
gp_Ax2 viewAxes(int kind);
// Landscape paper size in millimetres; unknown names give A3.
QSizeF paperSize(const QString& format);
// Largest standard scale at which a model of w x h fits a room of roomW x roomH.
double autoScale(double w, double h, double roomW, double roomH);
// "5:1", "1:50", ...
QString scaleText(double scale);

} // namespace qor::app
