#include "io/XcafBodies.h"

#include <Quantity_Color.hxx>
#include <TDataStd_Name.hxx>
#include <TDF_LabelSequence.hxx>
#include <TopExp_Explorer.hxx>
#include <XCAFApp_Application.hxx>
#include <XCAFDoc_DocumentTool.hxx>
#include <XCAFDoc_ShapeTool.hxx>
#include <XCAFDoc_VisMaterial.hxx>
#include <XCAFDoc_VisMaterialTool.hxx>

#include <optional>

namespace qor::io {

namespace {

// Files nest assemblies only a few levels deep; anything deeper is a cycle or
// garbage and would only exhaust the stack.
constexpr int maxDepth = 64;

std::optional<Quantity_Color> colorFromTool(const Handle(XCAFDoc_ColorTool)& colors,
                                            const TDF_Label& label, const TDF_Label& target,
                                            const TopoDS_Shape& shape)
{
    Quantity_Color color;
    if (colors->GetColor(target, XCAFDoc_ColorSurf, color)
        || colors->GetColor(target, XCAFDoc_ColorGen, color)
        || colors->GetColor(label, XCAFDoc_ColorSurf, color)
        || colors->GetColor(shape, XCAFDoc_ColorSurf, color))
        return color;
    for (TopExp_Explorer face(shape, TopAbs_FACE); face.More(); face.Next()) {
        if (colors->GetColor(face.Current(), XCAFDoc_ColorSurf, color))
            return color;
    }
    return std::nullopt;
}

std::optional<Quantity_Color> baseColor(const Handle(XCAFDoc_VisMaterial)& material)
{
    if (material.IsNull())
        return std::nullopt;
    return material->BaseColor().GetRGB();
}

// The mesh readers (OBJ, glTF) attach visual materials instead of colours; their
// base colour is the body colour. Same order as the colour lookups.
std::optional<Quantity_Color> colorFromMaterial(const Handle(XCAFDoc_VisMaterialTool)& materials,
                                                const TDF_Label& label, const TDF_Label& target,
                                                const TopoDS_Shape& shape)
{
    for (const TDF_Label& owner : {target, label}) {
        if (auto color = baseColor(materials->GetShapeMaterial(owner)))
            return color;
    }
    if (auto color = baseColor(materials->GetShapeMaterial(shape)))
        return color;
    for (TopExp_Explorer face(shape, TopAbs_FACE); face.More(); face.Next()) {
        if (auto color = baseColor(materials->GetShapeMaterial(face.Current())))
            return color;
    }
    return std::nullopt;
}

} // namespace

Handle(TDocStd_Document) newXcafDocument()
{
    Handle(TDocStd_Document) document;
    XCAFApp_Application::GetApplication()->NewDocument("BinXCAF", document);
    return document;
}

void closeXcafDocument(const Handle(TDocStd_Document)& document)
{
    if (!document.IsNull() && document->IsOpened())
        XCAFApp_Application::GetApplication()->Close(document);
}

QString labelName(const TDF_Label& label)
{
    Handle(TDataStd_Name) name;
    if (!label.FindAttribute(TDataStd_Name::GetID(), name))
        return {};
    const TCollection_ExtendedString& text = name->Get();
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(text.ToExtString()),
                              text.Length());
}

void collectXcafLabel(const Handle(XCAFDoc_ColorTool)& colors, const TDF_Label& label,
                      const TopLoc_Location& placement, std::vector<ImportedBody>& bodies,
                      int depth)
{
    if (depth > maxDepth)
        return;

    QString name = labelName(label);
    TDF_Label target = label;
    TopLoc_Location location = placement;
    if (XCAFDoc_ShapeTool::IsReference(label)) {
        XCAFDoc_ShapeTool::GetReferredShape(label, target);
        location = placement.Multiplied(XCAFDoc_ShapeTool::GetLocation(label));
        if (name.isEmpty())
            name = labelName(target);
    }

    if (XCAFDoc_ShapeTool::IsAssembly(target)) {
        TDF_LabelSequence components;
        XCAFDoc_ShapeTool::GetComponents(target, components, false);
        for (const TDF_Label& component : components)
            collectXcafLabel(colors, component, location, bodies, depth + 1);
        return;
    }

    const TopoDS_Shape shape = XCAFDoc_ShapeTool::GetShape(target);
    if (shape.IsNull())
        return;

    ImportedBody body;
    body.name = name.isEmpty() ? labelName(target) : name;
    body.shape = shape.Moved(location);

    std::optional<Quantity_Color> color = colorFromTool(colors, label, target, shape);
    if (!color)
        color = colorFromMaterial(XCAFDoc_DocumentTool::VisMaterialTool(colors->Label()), label,
                                  target, shape);
    if (color) {
        body.hasColor = true;
        color->Values(body.r, body.g, body.b, Quantity_TOC_sRGB);
    }
    bodies.push_back(std::move(body));
}

void collectXcafBodies(const Handle(TDocStd_Document)& document, ImportResult& result)
{
    const TDF_Label main = document->Main();
    const Handle(XCAFDoc_ShapeTool) shapes = XCAFDoc_DocumentTool::ShapeTool(main);
    const Handle(XCAFDoc_ColorTool) colors = XCAFDoc_DocumentTool::ColorTool(main);

    TDF_LabelSequence freeShapes;
    shapes->GetFreeShapes(freeShapes);
    for (const TDF_Label& label : freeShapes)
        collectXcafLabel(colors, label, TopLoc_Location(), result.bodies, 0);

    result.ok = !result.bodies.empty();
    if (!result.ok && result.error.isEmpty())
        result.error = QStringLiteral("Die Datei enthält keine Geometrie");
}

} // namespace qor::io
