#pragma once

#include "io/Export.h"
#include "io/XcafBodies.h"

#include <Interface_Static.hxx>
#include <Quantity_Color.hxx>
#include <STEPCAFControl_Writer.hxx>
#include <STEPControl_Controller.hxx>
#include <TDataStd_Name.hxx>
#include <XCAFDoc_ColorTool.hxx>
#include <XCAFDoc_DocumentTool.hxx>
#include <XCAFDoc_ShapeTool.hxx>

#include <QByteArray>

#include <vector>

namespace qor::bench {

// What the export adds nothing to: the kernel's writer on an XCAF document of
// the named, coloured bodies, in the export's default schema unless told.
inline void bareStepWrite(const std::vector<qor::io::ExportBody>& bodies, const QByteArray& file,
                          const char* schema = "AP242DIS")
{
    STEPControl_Controller::Init();
    Interface_Static::SetCVal("write.step.schema", schema);
    Interface_Static::SetCVal("write.step.unit", "MM");
    qor::io::XcafDocumentScope scope;
    const Handle(XCAFDoc_ShapeTool) shapes
        = XCAFDoc_DocumentTool::ShapeTool(scope.document()->Main());
    const Handle(XCAFDoc_ColorTool) colours
        = XCAFDoc_DocumentTool::ColorTool(scope.document()->Main());
    for (const qor::io::ExportBody& body : bodies) {
        const TDF_Label label = shapes->AddShape(body.shape, false, true);
        TDataStd_Name::Set(label, TCollection_ExtendedString(body.name.toStdWString().c_str()));
        colours->SetColor(label, Quantity_Color(body.r, body.g, body.b, Quantity_TOC_sRGB),
                          XCAFDoc_ColorSurf);
    }
    STEPCAFControl_Writer writer;
    writer.Transfer(scope.document(), STEPControl_AsIs);
    writer.Write(file.constData());
}

} // namespace qor::bench
