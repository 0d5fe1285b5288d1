#include "io/sab/SabReader.h"

#include "expr/Format.h"
#include "io/sab/SabBodies.h"

#include <BRepBuilderAPI_Transform.hxx>
#include <Standard_ErrorHandler.hxx>
#include <Standard_Failure.hxx>
#include <gp_Trsf.hxx>

#include <algorithm>

namespace qor::io {

namespace {

// ACIS 28 writes a type name once with a trailing "%" and later names it by a
// back-reference, and adds fields to the records: its bodies cannot be found
// by their type names.
bool isNewerDialect(const std::vector<SabRecord>& records)
{
    return std::any_of(records.begin(), records.end(), [](const SabRecord& record) {
        return record.type.find('%') != std::string::npos;
    });
}

TopoDS_Shape scaled(const TopoDS_Shape& shape, double factor)
{
    gp_Trsf trsf;
    trsf.SetScaleFactor(factor);
    return BRepBuilderAPI_Transform(shape, trsf, true).Shape();
}

// One body record, placed and in millimetres; null when it has no solid. A
// failure leaves the body out with a note.
TopoDS_Shape convertBody(SabBuilder& builder, const SabRecord& record)
{
    QString failure;
    try {
        OCC_CATCH_SIGNALS
        const TopoDS_Shape shape = buildSabBody(builder, record);
        return shape.IsNull() ? shape : scaled(shape, builder.unitScale);
    } catch (const SabAbort&) {
        throw;
    } catch (const Standard_Failure& e) {
        const char* text = e.GetMessageString();
        failure = QString::fromUtf8(text && *text ? text : e.DynamicType()->Name());
    } catch (const std::exception& e) {
        failure = QString::fromUtf8(e.what());
    }
    addWarningOnce(builder.warnings, QStringLiteral("Körper ausgelassen: %1").arg(failure));
    return {};
}

std::vector<ImportedBody> readBodies(const QByteArray& data, QString* message,
                                     const CancelCheck& cancelled)
{
    SabReader reader;
    reader.read(data);
    SabBuilder builder(reader);
    builder.cancelled = cancelled;
    std::vector<ImportedBody> bodies;
    for (const SabRecord& record : reader.records) {
        if (record.type != "body")
            continue;
        builder.checkCancelled();
        const TopoDS_Shape shape = convertBody(builder, record);
        if (!shape.IsNull()) {
            const QString name = QStringLiteral("Körper %1").arg(bodies.size() + 1);
            bodies.push_back({name, shape});
        }
    }
    if (builder.skippedFaces != 0)
        builder.warnings.append(QStringLiteral("%1 von %2 Flächen ausgelassen")
                                    .arg(germanCount(std::uint64_t(builder.skippedFaces)))
                                    .arg(germanCount(std::uint64_t(builder.totalFaces))));
    if (!message)
        return bodies;
    if (!bodies.empty())
        *message = builder.warnings.join(QStringLiteral("; "));
    else if (isNewerDialect(reader.records))
        *message = QStringLiteral("ACIS-Daten einer neueren Version (ab ACIS 28, Typnamen als "
                                  "Rückverweise) werden nicht unterstützt");
    else
        *message = sabNoBodyMessage();
    return bodies;
}

} // namespace

std::vector<ImportedBody> readSab(const QByteArray& data, QString* message,
                                  const CancelCheck& cancelled)
{
    try {
        return readBodies(data, message, cancelled);
    } catch (const std::exception& e) {
        if (message)
            *message = QString::fromUtf8(e.what());
    }
    return {};
}

} // namespace qor::io
