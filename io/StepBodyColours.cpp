#include "io/StepBodyColours.h"

#include <Interface_InterfaceModel.hxx>
#include <Interface_Static.hxx>
#include <Quantity_Color.hxx>
#include <STEPConstruct_Styles.hxx>
#include <StepRepr_HArray1OfRepresentationItem.hxx>
#include <StepRepr_Representation.hxx>
#include <StepRepr_RepresentationContext.hxx>
#include <StepShape_ShapeDefinitionRepresentation.hxx>
#include <StepVisual_HArray1OfPresentationStyleAssignment.hxx>
#include <StepVisual_MechanicalDesignGeometricPresentationRepresentation.hxx>
#include <StepVisual_PresentationStyleAssignment.hxx>
#include <StepVisual_StyledItem.hxx>
#include <TDF_LabelMap.hxx>
#include <TDF_LabelSequence.hxx>
#include <TopExp_Explorer.hxx>
#include <TransferBRep.hxx>
#include <TransferBRep_ShapeMapper.hxx>
#include <Transfer_Binder.hxx>
#include <Transfer_FinderProcess.hxx>
#include <Transfer_SimpleBinderOfTransient.hxx>
#include <XCAFDoc_ColorTool.hxx>
#include <XCAFDoc_DocumentTool.hxx>
#include <XCAFDoc_ShapeTool.hxx>
#include <XSControl_TransferWriter.hxx>
#include <XSControl_WorkSession.hxx>

#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <cstring>
#include <map>

namespace qor::io {

namespace {

bool severalSolids(const TopoDS_Shape& shape)
{
    TopExp_Explorer solid(shape, TopAbs_SOLID);
    if (!solid.More())
        return false;
    solid.Next();
    return solid.More();
}

// The shape representation the writer made for a free shape of the document.
Handle(StepRepr_Representation) representationOf(const Handle(Transfer_FinderProcess)& finder,
                                                 const TopoDS_Shape& shape)
{
    Handle(Transfer_Binder) binder = finder->Find(TransferBRep::ShapeMapper(finder, shape));
    for (; !binder.IsNull(); binder = binder->NextResult()) {
        const auto simple = Handle(Transfer_SimpleBinderOfTransient)::DownCast(binder);
        if (simple.IsNull())
            continue;
        const auto definition
            = Handle(StepShape_ShapeDefinitionRepresentation)::DownCast(simple->Result());
        if (!definition.IsNull())
            return definition->UsedRepresentation();
    }
    return {};
}

// The presentation the writer collects the styles in; readers that go by it see
// the added styles too.
Handle(StepVisual_MechanicalDesignGeometricPresentationRepresentation) presentationOf(
    const Handle(Interface_InterfaceModel)& model)
{
    for (int i = 1; i <= model->NbEntities(); ++i) {
        const auto presentation
            = Handle(StepVisual_MechanicalDesignGeometricPresentationRepresentation)::DownCast(
                model->Value(i));
        if (!presentation.IsNull())
            return presentation;
    }
    return {};
}

void appendItem(const Handle(StepRepr_Representation)& representation,
                const Handle(StepRepr_RepresentationItem)& item)
{
    const Handle(StepRepr_HArray1OfRepresentationItem)& items = representation->Items();
    const int count = items.IsNull() ? 0 : items->Length();
    Handle(StepRepr_HArray1OfRepresentationItem) more
        = new StepRepr_HArray1OfRepresentationItem(1, count + 1);
    for (int i = 1; i <= count; ++i)
        more->SetValue(i, items->Value(i));
    more->SetValue(count + 1, item);
    representation->SetItems(more);
}

// "#12 = STYLED_ITEM('color',(#13),#14);": the item, a stand-in from the
// body's representation, becomes the representation itself.
QByteArray linkedLine(const QByteArray& line, const std::map<int, int>& bodyOf)
{
    if (!line.startsWith('#'))
        return line;
    const qsizetype equals = line.indexOf(" = STYLED_ITEM(");
    if (equals < 0)
        return line;
    bool numeric = false;
    const int style = line.mid(1, equals - 1).toInt(&numeric);
    const auto found = bodyOf.find(style);
    const qsizetype item = line.lastIndexOf(",#");
    if (!numeric || found == bodyOf.end() || item < 0)
        return line;
    return line.left(item) + ",#" + QByteArray::number(found->second) + ");";
}

// The writer adds the presentations of the bodies' colours in the order of a map
// keyed by the shapes' addresses, which differs from run to run: they are put in
// the order of the bodies they style (their representations' contexts come body
// by body), each followed by what it refers to, so that the same bodies always
// give the same file.
void orderPresentations(const Handle(Interface_InterfaceModel)& model)
{
    using Presentation = StepVisual_MechanicalDesignGeometricPresentationRepresentation;
    std::vector<Handle(Standard_Transient)> entities;
    std::vector<std::pair<int, Handle(Presentation)>> presentations; // by context
    int first = 0;
    for (int i = 1; i <= model->NbEntities(); ++i) {
        entities.push_back(model->Value(i));
        const auto presentation = Handle(Presentation)::DownCast(model->Value(i));
        if (presentation.IsNull())
            continue;
        first = first == 0 ? i : first;
        presentations.emplace_back(model->Number(presentation->ContextOfItems()), presentation);
    }
    if (presentations.size() < 2)
        return;
    std::stable_sort(presentations.begin(), presentations.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    model->ClearEntities();
    for (int i = 1; i < first; ++i)
        model->AddEntity(entities[std::size_t(i - 1)]);
    for (const auto& [context, presentation] : presentations)
        model->AddWithRefs(presentation);
    for (std::size_t i = std::size_t(first - 1); i < entities.size(); ++i) {
        if (!model->Contains(entities[i]))
            model->AddWithRefs(entities[i]);
    }
}

} // namespace

StepBodyColours::StepBodyColours(STEPCAFControl_Writer& writer,
                                 const Handle(TDocStd_Document)& document)
{
    const Handle(XSControl_WorkSession)& session = writer.ChangeWriter().WS();
    orderPresentations(session->Model());
    const char* schema = Interface_Static::CVal("write.step.schema");
    // AP203 knows no colours.
    if (std::strncmp(schema, "AP242", 5) != 0 && std::strncmp(schema, "AP214", 5) != 0)
        return;
    const Handle(Transfer_FinderProcess) finder = session->TransferWriter()->FinderProcess();
    model_ = session->Model();
    const Handle(XCAFDoc_ShapeTool) shapes = XCAFDoc_DocumentTool::ShapeTool(document->Main());
    const Handle(XCAFDoc_ColorTool) colours = XCAFDoc_DocumentTool::ColorTool(document->Main());
    const auto presentation = presentationOf(model_);
    STEPConstruct_Styles styles(session);
    TDF_LabelSequence free;
    shapes->GetFreeShapes(free);
    // A placement of a shared part has the part's colour, styled once for all.
    TDF_LabelMap styled;
    for (const TDF_Label& label : free) {
        TDF_Label part = label;
        if (XCAFDoc_ShapeTool::IsReference(label))
            XCAFDoc_ShapeTool::GetReferredShape(label, part);
        Quantity_Color colour;
        const TopoDS_Shape shape = XCAFDoc_ShapeTool::GetShape(part);
        if (!styled.Add(part) || !colours->GetColor(part, XCAFDoc_ColorSurf, colour)
            || !severalSolids(shape))
            continue;
        const Handle(StepRepr_Representation) representation = representationOf(finder, shape);
        if (representation.IsNull() || representation->NbItems() == 0)
            continue;
        const Handle(StepVisual_Colour) stepColour = STEPConstruct_Styles::EncodeColor(colour);
        Handle(StepVisual_HArray1OfPresentationStyleAssignment) assignments
            = new StepVisual_HArray1OfPresentationStyleAssignment(1, 1);
        assignments->SetValue(
            1, styles.MakeColorPSA(nullptr, stepColour, stepColour, stepColour, 0.0));
        Handle(StepVisual_StyledItem) style = new StepVisual_StyledItem;
        // The writer refuses a style without an item and cannot write a
        // representation as one: a stand-in item is replaced in the file.
        style->Init(new TCollection_HAsciiString("color"), assignments,
                    representation->ItemsValue(1));
        if (!presentation.IsNull())
            appendItem(presentation, style);
        model_->AddWithRefs(style);
        entities_.emplace_back(style, representation);
    }
}

bool StepBodyColours::link(const QByteArray& file) const
{
    if (entities_.empty())
        return true;
    std::map<int, int> bodyOf;
    for (const auto& [style, representation] : entities_)
        bodyOf[model_->Number(style)] = model_->Number(representation);
    QFile in(QFile::decodeName(file));
    QSaveFile out(QFile::decodeName(file));
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly))
        return false;
    while (!in.atEnd()) {
        QByteArray line = in.readLine();
        const bool ended = line.endsWith('\n');
        if (ended)
            line.chop(1);
        out.write(linkedLine(line, bodyOf));
        if (ended)
            out.write("\n");
    }
    return in.error() == QFileDevice::NoError && out.commit();
}

} // namespace qor::io
