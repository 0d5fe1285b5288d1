#include "features/Text.h"

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

using namespace Qt::Literals::StringLiterals;

namespace {

// The capitals of the DejaVu faces are 0.73 em tall: a font of size h / 0.73
// gives letters of height h.
constexpr double capitalHeight = 0.73;

// Tool overlaps that keep the boolean away from the coplanar case.
constexpr double engraveOverlap = 0.05;
constexpr double embossOverlap = 0.02;

QString fontFamily(const QString& font)
{
    if (font == u"mono"_s)
        return u"DejaVu Sans Mono"_s;
    if (font == u"serif"_s)
        return u"DejaVu Serif"_s;
    return u"DejaVu Sans"_s;
}

Graphic3d_HorizontalTextAlignment horizontalAlignment(const QString& align)
{
    if (align == u"left"_s)
        return Graphic3d_HTA_LEFT;
    if (align == u"right"_s)
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
    for (TopExp_Explorer it(shape, TopAbs_SOLID); it.More(); it.Next()) {
        TopoDS_Shape solid = it.Current();
        GProp_GProps props;
        BRepGProp::VolumeProperties(solid, props, Standard_False, Standard_False, Standard_False);
        if (props.Mass() < 0.0)
            solid.Reverse();
        builder.Add(result, solid);
    }
    return result;
}

} // namespace

QString fallbackFontPath(const QString& family, bool bold)
{
    const QString directory = u"/usr/share/fonts/truetype/dejavu/"_s;
    QString file = u"DejaVuSans"_s;
    if (family.contains(u"Mono"_s))
        file = u"DejaVuSansMono"_s;
    else if (family.contains(u"Serif"_s))
        file = u"DejaVuSerif"_s;
    return directory + file + (bold ? u"-Bold.ttf"_s : u".ttf"_s);
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
        const TCollection_AsciiString& path =
            found->FontPath(bold ? Font_FontAspect_Bold : Font_FontAspect_Regular);
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
        throw FeatureError(u"Schriftart nicht gefunden: "_s + fontPath);

    StdPrs_BRepTextBuilder builder;
    const TopoDS_Shape outline =
        builder.Perform(font, NCollection_String(text.toUtf8().constData()), frame,
                        horizontalAlignment(align), Graphic3d_VTA_CENTER);
    // A text of characters the font has no glyph for gives an empty compound.
    if (!hasFace(outline))
        throw FeatureError(u"Text konnte nicht in Kurven umgewandelt werden"_s);
    return outline;
}

void execText(ExecContext& context)
{
    const QString text = context.stringParam(u"text"_s).trimmed();
    if (text.isEmpty())
        throw FeatureError(u"Text eingeben"_s);
    const double height = context.number(u"height"_s);
    const double depth = context.number(u"depth"_s);
    if (height <= 0.0 || depth <= 0.0)
        throw FeatureError(u"Schrifthöhe und Tiefe müssen größer als 0 sein"_s);

    const gp_Ax3 plane = resolvePlaneRef(context, u"plane"_s);
    const double x = context.number(u"x"_s);
    const double y = context.number(u"y"_s);
    const gp_Ax3 frame = textFrame(plane, x, y, context.angle(u"angle"_s));

    const QString path = textFontPath(context.stringParam(u"font"_s), context.boolParam(u"bold"_s));
    const TopoDS_Shape outline =
        textOutline(path, height, text, frame, context.stringParam(u"align"_s));

    const gp_Vec n = gp_Vec(context.boolParam(u"flip"_s) ? plane.Direction().Reversed()
                                                         : plane.Direction());
    const QString op = context.stringParam(u"op"_s);
    // Engraving starts just outside the face and reaches depth into the material;
    // embossed letters start just inside it and stand depth above it.
    const bool engrave = op == u"cut"_s;
    const double start = engrave ? engraveOverlap : -embossOverlap;
    const double length = engrave ? -(depth + engraveOverlap) : depth + embossOverlap;
    gp_Trsf shift;
    shift.SetTranslation(n * start);
    const TopoDS_Shape prism = outwardSolids(makePrism(transformShape(outline, shift), n * length));

    const std::vector<int> targets = resolveTargetBodies(context, u"targets"_s);
    applyBoolean(context, prism, op, targets);
}

} // namespace qor::model
