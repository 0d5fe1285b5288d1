#include "io/StepPlacements.h"

#include <StepBasic_Product.hxx>
#include <StepBasic_ProductDefinition.hxx>
#include <StepBasic_ProductDefinitionFormation.hxx>
#include <StepRepr_NextAssemblyUsageOccurrence.hxx>
#include <TCollection_HAsciiString.hxx>
#include <TopLoc_Location.hxx>
#include <gp_Trsf.hxx>

#include <cmath>
#include <map>
#include <tuple>

namespace qor::io {

namespace {

bool rigidPlacement(const TopLoc_Location& location)
{
    if (location.IsIdentity())
        return false;
    const gp_Trsf trsf = location.Transformation();
    return !trsf.IsNegative() && std::abs(trsf.ScaleFactor() - 1.0) <= TopLoc_Location::ScalePrec();
}

// What bodies of one part have in common.
using PartKey = std::tuple<const TopoDS_TShape*, TopAbs_Orientation, double, double, double>;

PartKey keyOf(const ExportBody& body)
{
    return {body.shape.TShape().get(), body.shape.Orientation(), body.r, body.g, body.b};
}

bool placeable(const ExportBody& body)
{
    return !body.shape.IsNull() && rigidPlacement(body.shape.Location());
}

} // namespace

std::vector<int> sharedParts(const std::vector<ExportBody>& bodies)
{
    struct Part {
        int bodies = 0;
        int number = -1;
    };
    std::map<PartKey, Part> parts;
    for (const ExportBody& body : bodies) {
        if (placeable(body))
            ++parts[keyOf(body)].bodies;
    }
    std::vector<int> partOf(bodies.size(), -1);
    int next = 0;
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        if (!placeable(bodies[i]))
            continue;
        Part& part = parts[keyOf(bodies[i])];
        if (part.bodies < 2)
            continue;
        if (part.number < 0)
            part.number = next++;
        partOf[i] = part.number;
    }
    return partOf;
}

void namePlacements(const Handle(Interface_InterfaceModel)& model)
{
    int number = 0;
    for (int i = 1; i <= model->NbEntities(); ++i) {
        const auto usage = Handle(StepRepr_NextAssemblyUsageOccurrence)::DownCast(model->Value(i));
        if (usage.IsNull())
            continue;
        const Handle(StepBasic_ProductDefinition)& placement = usage->RelatingProductDefinition();
        if (placement.IsNull() || placement->Formation().IsNull()
            || placement->Formation()->OfProduct().IsNull())
            continue;
        usage->SetName(placement->Formation()->OfProduct()->Name());
        // The kernel numbers the links from a counter that lives as long as the
        // process, so a second write of the same document would differ.
        usage->SetId(new TCollection_HAsciiString(++number));
    }
}

} // namespace qor::io
