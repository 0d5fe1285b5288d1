#include "io/XcafBodies.h"

#include "io/MeshFaces.h"

#include <QRegularExpression>

#include <BRepBuilderAPI_Transform.hxx>
#include <BRep_Tool.hxx>
#include <NCollection_DataMap.hxx>
#include <Quantity_Color.hxx>
#include <TDF_ChildIDIterator.hxx>
#include <TDF_ChildIterator.hxx>
#include <TDF_LabelSequence.hxx>
#include <TDataStd_Name.hxx>
#include <TNaming_NamedShape.hxx>
#include <TNaming_Tool.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopTools_ShapeMapHasher.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Face.hxx>
#include <TopoDS_Iterator.hxx>
#include <XCAFApp_Application.hxx>
#include <XCAFDoc_ColorTool.hxx>
#include <XCAFDoc_DocumentTool.hxx>
#include <XCAFDoc_ShapeMapTool.hxx>
#include <XCAFDoc_ShapeTool.hxx>
#include <XCAFDoc_VisMaterial.hxx>
#include <XCAFDoc_VisMaterialTool.hxx>
#include <gp_GTrsf.hxx>

#include <cmath>
#include <optional>
#include <vector>

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

// Shape locations must be rigid. glTF nodes often scale, and a scaled placement
// is then built into the geometry instead of being refused.
TopoDS_Shape placeShape(const TopoDS_Shape& shape, const TopLoc_Location& placement)
{
    const gp_Trsf& trsf = placement.Transformation();
    if (isRigid(trsf))
        return shape.Moved(placement);
    if (isMeshOnly(shape))
        return transformedMesh(shape, gp_GTrsf(trsf));
    return BRepBuilderAPI_Transform(shape, trsf, true).Shape();
}

// Where the kernel's search for a shape's label ends (XCAFDoc_ShapeTool::Search, which the
// colour and material tools run for a shape), found without walking the document for each
// shape. For a shape that no part holds as a whole the kernel walks the parts to find one
// that holds it as a sub-shape, and for a placed shape every assembly's placements: in a
// document of many parts that grows with the square of their number. Where the kernel
// then files the shape as a new sub-shape, which has no colour or material, this finds no
// label.
class ShapeLabels {
public:
    explicit ShapeLabels(const Handle(XCAFDoc_ShapeTool)& shapes)
        : shapes_(shapes)
        , root_(shapes->Label())
    {
    }

    TDF_Label find(const TopoDS_Shape& shape)
    {
        if (!shape.Location().IsIdentity()) {
            if (const TDF_Label part = topLevel(shape); !part.IsNull())
                return part;
            if (const TDF_Label* placement = placements().Seek(shape))
                return *placement;
        }
        if (const TDF_Label part = topLevel(shape.Located(TopLoc_Location())); !part.IsNull())
            return part;
        return subShape(shape);
    }

private:
    using LabelMap = NCollection_DataMap<TopoDS_Shape, TDF_Label, TopTools_ShapeMapHasher>;

    // The label the document's naming gives the shape first, wherever it is.
    TDF_Label named(const TopoDS_Shape& shape) const
    {
        if (!TNaming_Tool::HasLabel(root_, shape))
            return {};
        int transDef = 0;
        return TNaming_Tool::Label(root_, shape, transDef);
    }

    // A part or assembly holding the shape as a whole: the named label when that is one,
    // else the first in the document's order.
    TDF_Label topLevel(const TopoDS_Shape& shape)
    {
        const TDF_Label label = named(shape);
        if (label.IsNull() || label.Father() == root_)
            return label;
        const TDF_Label* first = topLevelShapes().Seek(shape);
        return first ? *first : TDF_Label();
    }

    // The sub-shape label of the first part holding the shape: the named label when that
    // part is its father, else the part's first child holding the shape.
    TDF_Label subShape(const TopoDS_Shape& shape)
    {
        const TDF_Label* part = partsHolding().Seek(shape);
        if (!part)
            return {};
        const TDF_Label label = named(shape);
        if (label.IsNull() || label.Father() == *part)
            return label;
        for (TDF_ChildIterator child(*part); child.More(); child.Next()) {
            Handle(TNaming_NamedShape) held;
            if (child.Value().FindAttribute(TNaming_NamedShape::GetID(), held)
                && TNaming_Tool::GetShape(held).IsSame(shape))
                return child.Value();
        }
        return {};
    }

    const LabelMap& topLevelShapes()
    {
        if (topLevelShapes_)
            return *topLevelShapes_;
        topLevelShapes_.emplace();
        for (TDF_ChildIDIterator it(root_, TNaming_NamedShape::GetID()); it.More(); it.Next()) {
            const TopoDS_Shape shape
                = TNaming_Tool::GetShape(Handle(TNaming_NamedShape)::DownCast(it.Value()));
            if (!shape.IsNull() && !topLevelShapes_->IsBound(shape))
                topLevelShapes_->Bind(shape, it.Value()->Label());
        }
        return *topLevelShapes_;
    }

    // Every sub-shape of every part, with the first part holding it.
    const LabelMap& partsHolding()
    {
        if (partsHolding_)
            return *partsHolding_;
        partsHolding_.emplace();
        for (TDF_ChildIterator child(root_); child.More(); child.Next()) {
            const TDF_Label part = child.Value();
            if (!XCAFDoc_ShapeTool::IsSimpleShape(part))
                continue;
            Handle(XCAFDoc_ShapeMapTool) subShapes;
            if (!part.FindAttribute(XCAFDoc_ShapeMapTool::GetID(), subShapes)) {
                // As the kernel's search fills it on first use.
                const TopoDS_Shape shape = XCAFDoc_ShapeTool::GetShape(part);
                if (shape.IsNull())
                    continue;
                subShapes = XCAFDoc_ShapeMapTool::Set(part);
                subShapes->SetShape(shape);
            }
            const TopTools_IndexedMapOfShape& map = subShapes->GetMap();
            for (int i = 1; i <= map.Extent(); ++i) {
                if (!partsHolding_->IsBound(map(i)))
                    partsHolding_->Bind(map(i), part);
            }
        }
        return *partsHolding_;
    }

    // The placements of every assembly by their placed shape, the first in the kernel's
    // order kept.
    const LabelMap& placements()
    {
        if (placements_)
            return *placements_;
        placements_.emplace();
        TDF_LabelSequence labels;
        shapes_->GetShapes(labels);
        for (const TDF_Label& label : labels) {
            if (!XCAFDoc_ShapeTool::IsAssembly(label))
                continue;
            TDF_LabelSequence components;
            XCAFDoc_ShapeTool::GetComponents(label, components, false);
            for (const TDF_Label& component : components) {
                const TopoDS_Shape placed = XCAFDoc_ShapeTool::GetShape(component);
                if (!placed.IsNull() && !placements_->IsBound(placed))
                    placements_->Bind(placed, component);
            }
        }
        return *placements_;
    }

    Handle(XCAFDoc_ShapeTool) shapes_;
    TDF_Label root_;
    // Each built on first need.
    std::optional<LabelMap> topLevelShapes_;
    std::optional<LabelMap> partsHolding_;
    std::optional<LabelMap> placements_;
};

// The colour tools of one document and the labels of its shapes.
struct ColourSources {
    Handle(XCAFDoc_ColorTool) colors;
    Handle(XCAFDoc_VisMaterialTool) materials;
    ShapeLabels labels;
};

bool labelColor(const ColourSources& sources, const TDF_Label& label, XCAFDoc_ColorType type,
                Quantity_Color& color)
{
    return !label.IsNull() && sources.colors->GetColor(label, type, color);
}

std::optional<Quantity_Color> colorFromTool(ColourSources& sources, const TDF_Label& label,
                                            const TDF_Label& target, const TopoDS_Shape& shape)
{
    // The IGES reader makes a body whose surface the file places by a transformation (a
    // ball, a ring) a placement of its face, and colours the placement, generically.
    Quantity_Color color;
    if (labelColor(sources, target, XCAFDoc_ColorSurf, color)
        || labelColor(sources, target, XCAFDoc_ColorGen, color)
        || labelColor(sources, label, XCAFDoc_ColorSurf, color)
        || labelColor(sources, label, XCAFDoc_ColorGen, color)
        || labelColor(sources, sources.labels.find(shape), XCAFDoc_ColorSurf, color))
        return color;
    // Some writers colour a part's solids or shells rather than the part, and a
    // body of several solids read back from STEP carries its colour on each solid.
    TDF_LabelSequence subShapes;
    XCAFDoc_ShapeTool::GetSubShapes(target, subShapes);
    for (XCAFDoc_ColorType type : {XCAFDoc_ColorSurf, XCAFDoc_ColorGen}) {
        for (const TDF_Label& sub : subShapes) {
            const TopAbs_ShapeEnum kind = XCAFDoc_ShapeTool::GetShape(sub).ShapeType();
            if ((kind == TopAbs_SOLID || kind == TopAbs_SHELL)
                && labelColor(sources, sub, type, color))
                return color;
        }
    }
    // The IGES reader puts the colours of a part on its faces as generic colours.
    std::vector<TDF_Label> faces;
    for (TopExp_Explorer face(shape, TopAbs_FACE); face.More(); face.Next())
        faces.push_back(sources.labels.find(face.Current()));
    for (XCAFDoc_ColorType type : {XCAFDoc_ColorSurf, XCAFDoc_ColorGen}) {
        for (const TDF_Label& face : faces) {
            if (labelColor(sources, face, type, color))
                return color;
        }
    }
    return std::nullopt;
}

std::optional<Quantity_Color> baseColor(const ColourSources& sources, const TDF_Label& label)
{
    if (label.IsNull())
        return std::nullopt;
    const Handle(XCAFDoc_VisMaterial) material = sources.materials->GetShapeMaterial(label);
    if (material.IsNull())
        return std::nullopt;
    return material->BaseColor().GetRGB();
}

// The mesh readers (OBJ, glTF) attach visual materials instead of colours; their
// base colour is the body colour. Same order as the colour lookups.
std::optional<Quantity_Color> colorFromMaterial(ColourSources& sources, const TDF_Label& label,
                                                const TDF_Label& target, const TopoDS_Shape& shape)
{
    for (const TDF_Label& owner : {target, label, sources.labels.find(shape)}) {
        if (auto color = baseColor(sources, owner))
            return color;
    }
    for (TopExp_Explorer face(shape, TopAbs_FACE); face.More(); face.Next()) {
        if (auto color = baseColor(sources, sources.labels.find(face.Current())))
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
    // A shape the file left unnamed is named by the document after its kernel type
    // ("COMPOUND", "FACE"): no name a user gave either.
    static const QRegularExpression typeName(
        QStringLiteral("^(COMPOUND|COMPSOLID|SOLID|SHELL|FACE|WIRE|EDGE|VERTEX|SHAPE)$"));
    if (typeName.match(raw).hasMatch())
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
    ColourSources& sources;
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

    std::optional<Quantity_Color> color = colorFromTool(collection.sources, label, target, shape);
    if (!color)
        color = colorFromMaterial(collection.sources, label, target, shape);
    if (color) {
        body.hasColor = true;
        color->Values(body.r, body.g, body.b, Quantity_TOC_sRGB);
    }
    collection.bodies.push_back(std::move(body));
    if (collection.collected && collection.expected > 0)
        collection.collected(double(collection.bodies.size()) / double(collection.expected));
}

} // namespace

void collectXcafBodies(const Handle(TDocStd_Document)& document, ImportResult& result,
                       const std::function<void(double)>& collected)
{
    const TDF_Label main = document->Main();
    const Handle(XCAFDoc_ShapeTool) shapes = XCAFDoc_DocumentTool::ShapeTool(main);
    ColourSources sources{XCAFDoc_DocumentTool::ColorTool(main),
                          XCAFDoc_DocumentTool::VisMaterialTool(main), ShapeLabels(shapes)};

    TDF_LabelSequence freeShapes;
    shapes->GetFreeShapes(freeShapes);
    Collection collection{sources, result.bodies, collected};
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
