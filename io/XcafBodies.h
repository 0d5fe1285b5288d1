#pragma once

#include "io/Import.h"

#include <TDF_Label.hxx>
#include <TDocStd_Document.hxx>

#include <functional>

namespace qor::io {

// A new, empty XCAF document in the "BinXCAF" storage format. It stays registered
// with the XCAF application until closeXcafDocument releases it.
Handle(TDocStd_Document) newXcafDocument();
void closeXcafDocument(const Handle(TDocStd_Document)& document);

// A new XCAF document that is released again when the scope ends, also when a
// reader or writer throws.
class XcafDocumentScope {
public:
    XcafDocumentScope()
        : document_(newXcafDocument())
    {
    }
    ~XcafDocumentScope() { closeXcafDocument(document_); }
    XcafDocumentScope(const XcafDocumentScope&) = delete;
    XcafDocumentScope& operator=(const XcafDocumentScope&) = delete;

    // Not const: the readers take the handle by non-const reference.
    Handle(TDocStd_Document)& document() { return document_; }

private:
    Handle(TDocStd_Document) document_;
};

// The label's name attribute; empty when it has none.
QString labelName(const TDF_Label& label);

// One body per placed simple shape of the document's free shapes; sets ok, and
// the error when nothing was found and no error was set before. A document of many bodies
// takes a while: collected (when set) hears after each body how far the collection has
// come (0..1).
void collectXcafBodies(const Handle(TDocStd_Document)& document, ImportResult& result,
                       const std::function<void(double)>& collected = {});

} // namespace qor::io
