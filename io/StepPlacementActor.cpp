#include "io/StepPlacementActor.h"

#include <Geom_Axis2Placement.hxx>
#include <Interface_EntityIterator.hxx>
#include <Interface_Graph.hxx>
#include <Interface_Static.hxx>
#include <Message_ProgressScope.hxx>
#include <STEPControl_ActorRead.hxx>
#include <StepBasic_ProductDefinition.hxx>
#include <StepGeom_Axis2Placement3d.hxx>
#include <StepRepr_ItemDefinedTransformation.hxx>
#include <StepRepr_NextAssemblyUsageOccurrence.hxx>
#include <StepRepr_ProductDefinitionShape.hxx>
#include <StepRepr_PropertyDefinition.hxx>
#include <StepRepr_Representation.hxx>
#include <StepRepr_ShapeRepresentationRelationship.hxx>
#include <StepRepr_ShapeRepresentationRelationshipWithTransformation.hxx>
#include <StepRepr_Transformation.hxx>
#include <StepShape_ContextDependentShapeRepresentation.hxx>
#include <StepShape_ShapeDefinitionRepresentation.hxx>
#include <StepToGeom.hxx>
#include <TransferBRep.hxx>
#include <TransferBRep_ShapeBinder.hxx>
#include <Transfer_TransientProcess.hxx>
#include <XSControl_TransferReader.hxx>
#include <XSControl_WorkSession.hxx>
#include <gp_Ax3.hxx>

#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace qor::io {

namespace {

// What the kernel looks up about one representation on every placement that names it.
struct RepresentationFacts {
    // The product of the first shape definition (of exactly that type) using it, as the
    // check whether a relationship runs against its placement finds it; whether that
    // definition could be followed to a product at all.
    Handle(StepBasic_ProductDefinition) definedProduct;
    bool definitionSound = true;
    // The product a placement of it places: the first product definition reached from a
    // shape definition of any kind using it.
    Handle(StepBasic_ProductDefinition) placedProduct;
    std::unordered_set<const Standard_Transient*> items;
};

// A placement as the kernel transfers it: the product placed and where.
struct Placement {
    Handle(StepBasic_ProductDefinition) product;
    bool hasTransformation = false;
    bool reversed = false;
    gp_Trsf transformation;
};

class IndexedPlacementActor : public STEPControl_ActorRead {
public:
    Handle(Transfer_Binder) Transfer(const Handle(Standard_Transient)& start,
                                     const Handle(Transfer_TransientProcess)& process,
                                     const Message_ProgressRange& progress) override
    {
        const auto root = Handle(StepBasic_ProductDefinition)::DownCast(start);
        const int assemblyLevel = Interface_Static::IVal("read.step.assembly.level");
        if (root.IsNull() || assemblyLevel == 3 || assemblyLevel == 4)
            return STEPControl_ActorRead::Transfer(start, process, progress);
        Message_ProgressScope scope(progress, nullptr, 2);
        placeComponents(root, process, scope.Next());
        if (!scope.More())
            return {};
        return STEPControl_ActorRead::Transfer(start, process, scope.Next());
    }

    DEFINE_STANDARD_RTTI_INLINE(IndexedPlacementActor, STEPControl_ActorRead)

private:
    // The placements of an assembly in the order the kernel transfers them: in the order of
    // the entities that name the assembly, each naming it directly or through its shape.
    static std::vector<Handle(StepRepr_NextAssemblyUsageOccurrence)> placementsOf(
        const Handle(StepBasic_ProductDefinition)& product, const Interface_Graph& graph)
    {
        std::vector<Handle(StepRepr_NextAssemblyUsageOccurrence)> placements;
        for (Interface_EntityIterator it = graph.Sharings(product); it.More(); it.Next()) {
            if (const auto shape = Handle(StepRepr_ProductDefinitionShape)::DownCast(it.Value())) {
                for (Interface_EntityIterator sub = graph.Sharings(shape); sub.More(); sub.Next()) {
                    const auto usage
                        = Handle(StepRepr_NextAssemblyUsageOccurrence)::DownCast(sub.Value());
                    if (!usage.IsNull()
                        && shape->Definition().ProductDefinition()
                               == usage->RelatingProductDefinition())
                        placements.push_back(usage);
                }
                continue;
            }
            const auto usage = Handle(StepRepr_NextAssemblyUsageOccurrence)::DownCast(it.Value());
            if (!usage.IsNull() && usage->RelatingProductDefinition() == product)
                placements.push_back(usage);
        }
        return placements;
    }

    // Transfers every part the assembly places and binds each placement to its placed
    // shape, depth first in the kernel's order.
    void placeComponents(const Handle(StepBasic_ProductDefinition)& assembly,
                         const Handle(Transfer_TransientProcess)& process,
                         const Message_ProgressRange& progress)
    {
        opened_.insert(assembly.get());
        const auto placements = placementsOf(assembly, process->Graph());
        Message_ProgressScope scope(progress, nullptr,
                                    double(std::max<std::size_t>(1, placements.size())));
        for (const auto& usage : placements) {
            if (!scope.More())
                return;
            Message_ProgressScope step(scope.Next(), nullptr, 2);
            if (process->IsBound(usage))
                continue;
            const std::optional<Placement> placement = resolve(usage, process);
            if (!placement)
                continue;
            Handle(Transfer_Binder) binder = process->Find(placement->product);
            if (binder.IsNull()) {
                // An assembly inside itself: left to the kernel.
                if (opened_.count(placement->product.get()) > 0)
                    continue;
                placeComponents(placement->product, process, step.Next());
                binder = TransferEntity(placement->product, process, Standard_False, step.Next());
            }
            TopoDS_Shape shape = TransferBRep::ShapeResult(binder);
            if (shape.IsNull())
                continue;
            if (placement->hasTransformation) {
                const gp_Trsf trsf = placement->reversed ? placement->transformation.Inverted()
                                                         : placement->transformation;
                if (trsf.Form() != gp_Identity)
                    shape.Move(TopLoc_Location(trsf));
            }
            process->Bind(usage, new TransferBRep_ShapeBinder(shape));
        }
    }

    // The shape links of the usage (CONTEXT_DEPENDENT_SHAPE_REPRESENTATION), in the order
    // the kernel meets them.
    static std::vector<Handle(StepShape_ContextDependentShapeRepresentation)> linksOf(
        const Handle(StepRepr_NextAssemblyUsageOccurrence)& usage, const Interface_Graph& graph)
    {
        std::vector<Handle(StepShape_ContextDependentShapeRepresentation)> links;
        for (Interface_EntityIterator it = graph.Sharings(usage); it.More(); it.Next()) {
            const auto shape = Handle(StepRepr_ProductDefinitionShape)::DownCast(it.Value());
            if (shape.IsNull())
                continue;
            for (Interface_EntityIterator sub = graph.Sharings(shape); sub.More(); sub.Next()) {
                const auto link
                    = Handle(StepShape_ContextDependentShapeRepresentation)::DownCast(sub.Value());
                if (!link.IsNull())
                    links.push_back(link);
            }
        }
        return links;
    }

    // The placement the kernel would make of the usage, or none where it has another form
    // (no shape link, a link without both representations, a part it cannot find); such
    // placements are left to the kernel. Of several links, as the kernel takes them, the
    // part is the first one found and the transformation that of the last link.
    std::optional<Placement> resolve(const Handle(StepRepr_NextAssemblyUsageOccurrence)& usage,
                                     const Handle(Transfer_TransientProcess)& process)
    {
        const Interface_Graph& graph = process->Graph();
        const auto links = linksOf(usage, graph);
        if (links.empty())
            return std::nullopt;
        Placement placement;
        for (const auto& link : links) {
            const Handle(StepRepr_ShapeRepresentationRelationship) relation
                = link->RepresentationRelation();
            if (relation.IsNull() || relation->Rep1().IsNull() || relation->Rep2().IsNull())
                return std::nullopt;
            const RepresentationFacts& first = facts(relation->Rep1(), graph);
            const RepresentationFacts& second = facts(relation->Rep2(), graph);
            if (!first.definitionSound || !second.definitionSound)
                return std::nullopt;
            placement.reversed = reverses(usage, first.definedProduct, second.definedProduct);
            if (placement.product.IsNull())
                placement.product = (placement.reversed ? second : first).placedProduct;
            const std::optional<bool> moved
                = transformation(relation, process, placement.transformation);
            if (!moved)
                return std::nullopt;
            placement.hasTransformation = *moved;
        }
        if (placement.product.IsNull())
            return std::nullopt;
        return placement;
    }

    // Whether the relationship names the assembly first and the part second, against the
    // placement's order (STEPConstruct_Assembly::CheckSRRReversesNAUO).
    static bool reverses(const Handle(StepRepr_NextAssemblyUsageOccurrence)& usage,
                         const Handle(StepBasic_ProductDefinition)& first,
                         const Handle(StepBasic_ProductDefinition)& second)
    {
        const Handle(StepBasic_ProductDefinition) part = usage->RelatedProductDefinition();
        const Handle(StepBasic_ProductDefinition) assembly = usage->RelatingProductDefinition();
        if (first == part && second == assembly)
            return false;
        return second == part || first == assembly;
    }

    // The transformation of the relationship and whether it moves anything, as the kernel's
    // ComputeSRRWT finds it, with the axes' membership looked up in the index; none where
    // the kernel would fail.
    std::optional<bool> transformation(
        const Handle(StepRepr_ShapeRepresentationRelationship)& relation,
        const Handle(Transfer_TransientProcess)& process, gp_Trsf& trsf)
    {
        const auto withTransformation
            = Handle(StepRepr_ShapeRepresentationRelationshipWithTransformation)::DownCast(
                relation);
        const Handle(StepRepr_ItemDefinedTransformation) items
            = withTransformation.IsNull()
                  ? Handle(StepRepr_ItemDefinedTransformation)()
                  : withTransformation->TransformationOperator().ItemDefinedTransformation();
        const auto first
            = items.IsNull() ? Handle(StepGeom_Axis2Placement3d)()
                             : Handle(StepGeom_Axis2Placement3d)::DownCast(items->TransformItem1());
        const auto second
            = items.IsNull() ? Handle(StepGeom_Axis2Placement3d)()
                             : Handle(StepGeom_Axis2Placement3d)::DownCast(items->TransformItem2());
        // A transformation operator, or none: the kernel's own computation does not search.
        if (first.IsNull() || second.IsNull())
            return bool(ComputeSRRWT(relation, process, trsf));
        return axesTransformation(first, second, relation->Rep1(), relation->Rep2(), process, trsf);
    }

    // STEPControl_ActorRead::ComputeTransformation with the membership of the axes in their
    // representations looked up in the index. The units are those of no representation
    // before and after, as between the kernel's transfers of representations.
    std::optional<bool> axesTransformation(Handle(StepGeom_Axis2Placement3d) origin,
                                           Handle(StepGeom_Axis2Placement3d) target,
                                           const Handle(StepRepr_Representation)& originContext,
                                           const Handle(StepRepr_Representation)& targetContext,
                                           const Handle(Transfer_TransientProcess)& process,
                                           gp_Trsf& trsf)
    {
        trsf = gp_Trsf();
        const auto& originItems = facts(originContext, process->Graph()).items;
        const auto& targetItems = facts(targetContext, process->Graph()).items;
        const bool originInOrigin = originItems.count(origin.get()) > 0;
        const bool targetInOrigin = origin != target && originItems.count(target.get()) > 0;
        const bool targetInTarget = targetItems.count(target.get()) > 0;
        const bool originInTarget = origin != target && targetItems.count(origin.get()) > 0;
        if (!originInOrigin || !targetInTarget) {
            if (originInTarget && targetInOrigin) {
                std::swap(origin, target);
                process->AddWarning(origin, "Axis placements are swapped in SRRWT; corrected");
            } else {
                process->AddWarning(
                    originInOrigin ? target : origin,
                    "Axis placement used by SRRWT does not belong to corresponding representation");
            }
        }
        PrepareUnits(originContext, process);
        const Handle(Geom_Axis2Placement) from = StepToGeom::MakeAxis2Placement(origin);
        if (targetContext != originContext)
            PrepareUnits(targetContext, process);
        const Handle(Geom_Axis2Placement) to = StepToGeom::MakeAxis2Placement(target);
        PrepareUnits(Handle(StepRepr_Representation)(), process);
        if (from.IsNull() || to.IsNull())
            return std::nullopt;
        trsf.SetTransformation(gp_Ax3(to->Ax2()), gp_Ax3(from->Ax2()));
        return trsf.Form() != gp_Identity;
    }

    const RepresentationFacts& facts(const Handle(StepRepr_Representation)& representation,
                                     const Interface_Graph& graph)
    {
        const auto [at, added] = facts_.try_emplace(representation.get());
        RepresentationFacts& found = at->second;
        if (!added)
            return found;
        const Handle(Standard_Type) exactDefinition
            = STANDARD_TYPE(StepShape_ShapeDefinitionRepresentation);
        bool definedSeen = false;
        for (Interface_EntityIterator it = graph.Sharings(representation); it.More(); it.Next()) {
            const auto definition
                = Handle(StepShape_ShapeDefinitionRepresentation)::DownCast(it.Value());
            if (definition.IsNull())
                continue;
            if (!definedSeen && definition->DynamicType() == exactDefinition
                && definition->UsedRepresentation() == representation) {
                definedSeen = true;
                const Handle(StepRepr_PropertyDefinition) property
                    = definition->Definition().PropertyDefinition();
                found.definitionSound = !property.IsNull();
                if (found.definitionSound)
                    found.definedProduct = property->Definition().ProductDefinition();
            }
            const auto shape = Handle(StepRepr_ProductDefinitionShape)::DownCast(
                definition->Definition().PropertyDefinition());
            if (shape.IsNull() || !found.placedProduct.IsNull())
                continue;
            for (Interface_EntityIterator sub = graph.Shareds(shape);
                 found.placedProduct.IsNull() && sub.More(); sub.Next())
                found.placedProduct = Handle(StepBasic_ProductDefinition)::DownCast(sub.Value());
        }
        for (int i = 1; i <= representation->NbItems(); ++i)
            found.items.insert(representation->ItemsValue(i).get());
        return found;
    }

    std::unordered_map<const Standard_Transient*, RepresentationFacts> facts_;
    // The assemblies whose placements have been or are being transferred.
    std::unordered_set<const Standard_Transient*> opened_;
};

} // namespace

void placeByIndex(STEPCAFControl_Reader& reader)
{
    reader.ChangeReader().WS()->TransferReader()->SetActor(new IndexedPlacementActor);
}

} // namespace qor::io
