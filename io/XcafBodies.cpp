#include "io/XcafBodies.h"

#include "io/MeshFaces.h"

#include <QRegularExpression>

#include <BRepBuilderAPI_Transform.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <Poly_Triangulation.hxx>
#include <Quantity_Color.hxx>
#include <TDF_LabelSequence.hxx>
#include <TDataStd_Name.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Face.hxx>
#include <TopoDS_Iterator.hxx>
#include <XCAFApp_Application.hxx>
#include <XCAFDoc_DocumentTool.hxx>
#include <XCAFDoc_ShapeTool.hxx>
#include <XCAFDoc_VisMaterial.hxx>
#include <XCAFDoc_VisMaterialTool.hxx>

#include <cmath>
#include <optional>

namespace qor::io {

namespace {

// Files nest assemblies only a few levels deep; anything deeper is a cycle or
// garbage and would only exhaust the stack.
constexpr int maxDepth = 64;

bool isRigid(const gp_Trsf& trsf)
{
    return std::abs(std::abs(trsf.ScaleFactor()) - 1.0) <= TopLoc_Location::ScalePrec()
           && !trsf.IsNegative();
}

// Copies every face's triangles with their nodes moved by the transformation; a
// mirroring transformation turns the winding round so the normals stay outward.
TopoDS_Shape transformedMesh(const TopoDS_Shape& shape, const gp_Trsf& trsf)
{
    BRep_Builder builder;
    TopoDS_Compound compound;
    builder.MakeCompound(compound);
    for (TopExp_Explorer explorer(shape, TopAbs_FACE); explorer.More(); explorer.Next()) {
        const TopoDS_Face& face = TopoDS::Face(explorer.Current());
        TopLoc_Location location;
        const Handle(Poly_Triangulation) mesh = BRep_Tool::Triangulation(face, location);
        if (mesh.IsNull())
            continue;
        const gp_Trsf nodeTrsf = trsf.Multiplied(location.Transformation());
        Handle(Poly_Triangulation) moved
            = new Poly_Triangulation(mesh->NbNodes(), mesh->NbTriangles(), false);
        for (int i = 1; i <= mesh->NbNodes(); ++i)
            moved->SetNode(i, mesh->Node(i).Transformed(nodeTrsf));
        for (int i = 1; i <= mesh->NbTriangles(); ++i) {
            int a = 0, b = 0, c = 0;
            mesh->Triangle(i).Get(a, b, c);
            moved->SetTriangle(i,
                               trsf.IsNegative() ? Poly_Triangle(a, c, b) : Poly_Triangle(a, b, c));
        }
        TopoDS_Face copy;
        builder.MakeFace(copy, moved);
        copy.Orientation(face.Orientation());
        builder.Add(compound, copy);
    }
    return compound;
}

// Shape locations must be rigid. glTF nodes often scale, and a scaled placement
// is then built into the geometry instead of being refused.
TopoDS_Shape placeShape(const TopoDS_Shape& shape, const TopLoc_Location& placement)
{
    const gp_Trsf& trsf = placement.Transformation();
    if (isRigid(trsf))
        return shape.Moved(placement);
    if (isMeshOnly(shape))
        return transformedMesh(shape, trsf);
    return BRepBuilderAPI_Transform(shape, trsf, true).Shape();
}

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
    // Some writers colour a part's solids or shells rather than the part, and a
    // body of several solids read back from STEP carries its colour on each solid.
    TDF_LabelSequence subShapes;
    XCAFDoc_ShapeTool::GetSubShapes(target, subShapes);
    for (XCAFDoc_ColorType type : {XCAFDoc_ColorSurf, XCAFDoc_ColorGen}) {
        for (const TDF_Label& sub : subShapes) {
            const TopAbs_ShapeEnum kind = XCAFDoc_ShapeTool::GetShape(sub).ShapeType();
            if ((kind == TopAbs_SOLID || kind == TopAbs_SHELL)
                && colors->GetColor(sub, type, color))
                return color;
        }
    }
    // The IGES reader puts the colours of a part on its faces as generic colours.
    for (XCAFDoc_ColorType type : {XCAFDoc_ColorSurf, XCAFDoc_ColorGen}) {
        for (TopExp_Explorer face(shape, TopAbs_FACE); face.More(); face.Next()) {
            if (colors->GetColor(face.Current(), type, color))
                return color;
        }
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
    const QString raw
        = QString::fromUtf16(reinterpret_cast<const char16_t*>(text.ToExtString()), text.Length());
    // Some assembly writers name instances only by their XCAF entry ("=>[0:1:1:5]"),
    // which tells the user nothing: such a name counts as none.
    static const QRegularExpression entryName(QStringLiteral("^=>\\[[0-9:]*\\]$"));
    if (entryName.match(raw).hasMatch())
        return {};
    // Control characters (a carriage return inside a STEP string) would reach the
    // terminal and every file written later; a run of them becomes one space.
    QString clean;
    clean.reserve(raw.size());
    for (const QChar c : raw) {
        if (c.category() != QChar::Other_Control)
            clean.append(c);
        else if (!clean.endsWith(u' '))
            clean.append(u' ');
    }
    return clean.trimmed();
}

namespace {

// The bodies of one collection and how far it has come.
struct Collection {
    const Handle(XCAFDoc_ColorTool)& colors;
    std::vector<ImportedBody>& bodies;
    const std::function<void(double)>& collected;
    std::size_t expected = 0;
};

// The label the placed label stands for, with its placement.
TDF_Label referred(const TDF_Label& label, const TopLoc_Location& placement,
                   TopLoc_Location& location)
{
    location = placement;
    if (!XCAFDoc_ShapeTool::IsReference(label))
        return label;
    TDF_Label target;
    XCAFDoc_ShapeTool::GetReferredShape(label, target);
    location = placement.Multiplied(XCAFDoc_ShapeTool::GetLocation(label));
    return target;
}

// How many bodies the label makes at most, found without placing or colouring them.
std::size_t countBodies(const TDF_Label& label, int depth)
{
    if (depth > maxDepth)
        return 0;
    TopLoc_Location unused;
    const TDF_Label target = referred(label, TopLoc_Location(), unused);
    if (!XCAFDoc_ShapeTool::IsAssembly(target))
        return 1;
    TDF_LabelSequence components;
    XCAFDoc_ShapeTool::GetComponents(target, components, false);
    std::size_t count = 0;
    for (const TDF_Label& component : components)
        count += countBodies(component, depth + 1);
    return count;
}

void collectLabel(Collection& collection, const TDF_Label& label, const TopLoc_Location& placement,
                  int depth)
{
    if (depth > maxDepth)
        return;

    QString name = labelName(label);
    TopLoc_Location location;
    const TDF_Label target = referred(label, placement, location);
    if (name.isEmpty() && target != label)
        name = labelName(target);

    if (XCAFDoc_ShapeTool::IsAssembly(target)) {
        TDF_LabelSequence components;
        XCAFDoc_ShapeTool::GetComponents(target, components, false);
        for (const TDF_Label& component : components)
            collectLabel(collection, component, location, depth + 1);
        return;
    }

    // An empty compound (a product without geometry) is no body either.
    const TopoDS_Shape shape = XCAFDoc_ShapeTool::GetShape(target);
    if (shape.IsNull() || (shape.ShapeType() == TopAbs_COMPOUND && !TopoDS_Iterator(shape).More()))
        return;

    ImportedBody body;
    body.name = name.isEmpty() ? labelName(target) : name;
    body.shape = placeShape(shape, location);

    const Handle(XCAFDoc_ColorTool)& colors = collection.colors;
    std::optional<Quantity_Color> color = colorFromTool(colors, label, target, shape);
    if (!color)
        color = colorFromMaterial(XCAFDoc_DocumentTool::VisMaterialTool(colors->Label()), label,
                                  target, shape);
    if (color) {
        body.hasColor = true;
        color->Values(body.r, body.g, body.b, Quantity_TOC_sRGB);
    }
    collection.bodies.push_back(std::move(body));
    if (collection.collected && collection.expected > 0)
        collection.collected(double(collection.bodies.size()) / double(collection.expected));
}

} // namespace

void collectXcafLabel(const Handle(XCAFDoc_ColorTool)& colors, const TDF_Label& label,
                      const TopLoc_Location& placement, std::vector<ImportedBody>& bodies,
                      int depth)
{
    const std::function<void(double)> unreported;
    Collection collection{colors, bodies, unreported};
    collectLabel(collection, label, placement, depth);
}

void collectXcafBodies(const Handle(TDocStd_Document)& document, ImportResult& result,
                       const std::function<void(double)>& collected)
{
    const TDF_Label main = document->Main();
    const Handle(XCAFDoc_ShapeTool) shapes = XCAFDoc_DocumentTool::ShapeTool(main);
    const Handle(XCAFDoc_ColorTool) colors = XCAFDoc_DocumentTool::ColorTool(main);

    TDF_LabelSequence freeShapes;
    shapes->GetFreeShapes(freeShapes);
    Collection collection{colors, result.bodies, collected};
    if (collected) {
        for (const TDF_Label& label : freeShapes)
            collection.expected += countBodies(label, 0);
    }
    for (const TDF_Label& label : freeShapes)
        collectLabel(collection, label, TopLoc_Location(), 0);

    result.ok = !result.bodies.empty();
    if (!result.ok && result.error.isEmpty())
        result.error = QStringLiteral("Die Datei enthält keine Geometrie");
}

} // namespace qor::io
