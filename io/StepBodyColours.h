#pragma once

#include <QByteArray>

#include <Interface_InterfaceModel.hxx>
#include <STEPCAFControl_Writer.hxx>
#include <TDocStd_Document.hxx>

#include <utility>
#include <vector>

namespace qor::io {

// The colour of a body made of several solids on the body itself. The kernel's
// STEP writer styles only the solids of such a body, so readers that ask the
// body for its colour find none. A style may point at the body's shape
// representation (AP242 says so, and readers of AP214 take it alike); the
// writer cannot write that reference, so the style is added to the model after
// the transfer and its reference filled in the written file.
class StepBodyColours {
public:
    // After the writer's transfer: puts the model's presentations in the order of
    // the bodies, and styles every coloured part of the document that holds more
    // than one solid, a free shape or the part its placements share (AP214 and
    // AP242; AP203 has no colours).
    StepBodyColours(STEPCAFControl_Writer& writer, const Handle(TDocStd_Document)& document);

    // After the file was written: points each added style at its body. False
    // when the file could not be rewritten.
    bool link(const QByteArray& file) const;

private:
    // Each added style and the body's representation it is for.
    std::vector<std::pair<Handle(Standard_Transient), Handle(Standard_Transient)>> entities_;
    Handle(Interface_InterfaceModel) model_;
};

} // namespace qor::io
