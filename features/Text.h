#pragma once

#include <QString>

#include <TopoDS_Shape.hxx>
#include <gp_Ax3.hxx>

namespace qor::model {

class ExecContext;

// The DejaVu file for a "font" choice ("sans", "serif", "mono"; anything else
// is sans): the font manager's file of that family when it knows one, else the
// file in the fixed DejaVu directory.
QString textFontPath(const QString& font, bool bold);

// The file in the fixed DejaVu directory for a family name: a family containing
// "Mono" takes the mono files, else one containing "Serif" the serif files,
// else the sans files.
QString fallbackFontPath(const QString& family, bool bold);

// The planar glyph faces of one text laid out in the frame's XY plane: capital
// letters are height tall, "left"/"right" put the start/end of the text on the
// frame's origin, anything else centres it; vertically centred on the origin.
// Throws FeatureError when the font file cannot be loaded or the text gives no
// outline.
TopoDS_Shape textOutline(const QString& fontPath, double height, const QString& text,
                         const gp_Ax3& frame, const QString& align);

// Executor of "text": the outline extruded by "depth" and applied with "op":
// joined letters stand on the plane, cut letters are engraved into it, new
// letters make a body of their own.
void execText(ExecContext& context);

} // namespace qor::model
