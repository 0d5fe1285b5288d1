#include "features/Text.h"

#include "features/BodyEditing.h"

#include "features/ShapeOps.h"
#include "model/ExecContext.h"
#include "model/References.h"

#include <BRepGProp.hxx>
#include <BRep_Builder.hxx>
#include <Font_FontMgr.hxx>
#include <Font_SystemFont.hxx>
#include <GProp_GProps.hxx>
#include <Graphic3d_HorizontalTextAlignment.hxx>
#include <Graphic3d_VerticalTextAlignment.hxx>
#include <StdPrs_BRepFont.hxx>
#include <StdPrs_BRepTextBuilder.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS_Compound.hxx>

#include <cmath>

namespace qor::model {

namespace {

// The capitals of the DejaVu faces are 0.73 em tall: a font of size h / 0.73
// gives letters of height h.
constexpr double capitalHeight = 0.73;

// Tool overlaps that keep the boolean away from the coplanar case.
constexpr double engraveOverlap = 0.05;
constexpr double embossOverlap = 0.02;

QString fontFamily(const QString& font)
{
    if (font == QStringLiteral("mono"))
        return QStringLiteral("DejaVu Sans Mono");
    if (font == QStringLiteral("serif"))
        return QStringLiteral("DejaVu Serif");
    return QStringLiteral("DejaVu Sans");
}

Graphic3d_HorizontalTextAlignment horizontalAlignment(const QString& align)
{
    if (align == QStringLiteral("left"))
        return Graphic3d_HTA_LEFT;
    if (align == QStringLiteral("right"))
        return Graphic3d_HTA_RIGHT;
    return Graphic3d_HTA_CENTER;
}

// The text's axis system on the plane: origin at the anchor (x, y), turned
// about the plane normal by the angle in degrees.
gp_Ax3 textFrame(const gp_Ax3& plane, double x, double y, double angleDeg)
{
    const gp_Pnt anchor = plane.Location().Translated(gp_Vec(plane.XDirection()) * x
                                                      + gp_Vec(plane.YDirection()) * y);
    gp_Ax3 frame(anchor, plane.Direction(), plane.XDirection());
    if (std::abs(angleDeg) > 1e-9)
        frame.Rotate(gp_Ax1(anchor, plane.Direction()), angleDeg * 0.017453292519943295);
    return frame;
}

bool hasFace(const TopoDS_Shape& shape)
{
    return !shape.IsNull() && TopExp_Explorer(shape, TopAbs_FACE).More();
}

// Every solid with a positive volume: the glyph faces come with either winding.
TopoDS_Shape outwardSolids(const TopoDS_Shape& shape)
{
    TopoDS_Compound result;
    BRep_Builder builder;
    builder.MakeCompound(result);
    for (TopExp_Explorer it(shape, TopAbs_SOLID); it.More(); it.Next())
        builder.Add(result, outwardOriented(it.Current()));
    return result;
}

} // namespace

QString fallbackFontPath(const QString& family, bool bold)
{
    const QString directory = QStringLiteral("/usr/share/fonts/truetype/dejavu/");
    QString file = QStringLiteral("DejaVuSans");
    if (family.contains(QStringLiteral("Mono")))
        file = QStringLiteral("DejaVuSansMono");
    else if (family.contains(QStringLiteral("Serif")))
        file = QStringLiteral("DejaVuSerif");
    return directory + file + (bold ? QStringLiteral("-Bold.ttf") : QStringLiteral(".ttf"));
}

QString textFontPath(const QString& font, bool bold)
{
    const QString family = fontFamily(font);
    // Only the family itself counts: the manager's fallback to any other font
    // would silently swap the typeface the user picked.
    Font_FontAspect aspect = bold ? Font_FontAspect_Bold : Font_FontAspect_Regular;
    const Handle(Font_SystemFont) found = Font_FontMgr::GetInstance()->FindFont(
        TCollection_AsciiString(family.toUtf8().constData()), Font_StrictLevel_Strict, aspect,
        Standard_True);
    if (!found.IsNull()) {
        const TCollection_AsciiString& path
            = found->FontPath(bold ? Font_FontAspect_Bold : Font_FontAspect_Regular);
        if (!path.IsEmpty())
            return QString::fromUtf8(path.ToCString());
    }
    return fallbackFontPath(family, bold);
}

TopoDS_Shape textOutline(const QString& fontPath, double height, const QString& text,
                         const gp_Ax3& frame, const QString& align)
{
    StdPrs_BRepFont font;
    if (!font.Init(NCollection_String(fontPath.toUtf8().constData()), height / capitalHeight, 0))
        throw FeatureError(QStringLiteral("Schriftart nicht gefunden: ") + fontPath);

    StdPrs_BRepTextBuilder builder;
    const TopoDS_Shape outline
        = builder.Perform(font, NCollection_String(text.toUtf8().constData()), frame,
                          horizontalAlignment(align), Graphic3d_VTA_CENTER);
    // A text of characters the font has no glyph for gives an empty compound.
    if (!hasFace(outline))
        throw FeatureError(QStringLiteral("Text konnte nicht in Kurven umgewandelt werden"));
    return outline;
}

void execText(ExecContext& context)
{
    const QString text = context.stringParam(QStringLiteral("text")).trimmed();
    if (text.isEmpty())
        throw FeatureError(QStringLiteral("Text eingeben"));
    const double height = context.number(QStringLiteral("height"));
    const double depth = context.number(QStringLiteral("depth"));
    if (height <= 0.0 || depth <= 0.0)
        throw FeatureError(QStringLiteral("Schrifthöhe und Tiefe müssen größer als 0 sein"));

    const gp_Ax3 plane = resolvePlaneRef(context, QStringLiteral("plane"));
    const double x = context.number(QStringLiteral("x"));
    const double y = context.number(QStringLiteral("y"));
    const gp_Ax3 frame = textFrame(plane, x, y, context.angle(QStringLiteral("angle")));

    const QString path = textFontPath(context.stringParam(QStringLiteral("font")),
                                      context.boolParam(QStringLiteral("bold")));
    const TopoDS_Shape outline
        = textOutline(path, height, text, frame, context.stringParam(QStringLiteral("align")));

    const gp_Vec n = gp_Vec(context.boolParam(QStringLiteral("flip")) ? plane.Direction().Reversed()
                                                                      : plane.Direction());
    const QString op = context.stringParam(QStringLiteral("op"));
    // Engraving starts just outside the face and reaches depth into the material;
    // embossed letters start just inside it and stand depth above it.
    const bool engrave = op == QStringLiteral("cut");
    const double start = engrave ? engraveOverlap : -embossOverlap;
    const double length = engrave ? -(depth + engraveOverlap) : depth + embossOverlap;
    gp_Trsf shift;
    shift.SetTranslation(n * start);
    const TopoDS_Shape prism = outwardSolids(makePrism(transformShape(outline, shift), n * length));

    const std::vector<int> targets = resolveTargetBodies(context, QStringLiteral("targets"));
    applyBoolean(context, prism, op, targets);
}

} // namespace qor::model
