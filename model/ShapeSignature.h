#pragma once

#include <QJsonObject>

#include <TopoDS_Shape.hxx>

#include <array>
#include <cstdint>

namespace qor::model {

// The geometric fingerprint by which a face, edge or vertex of a body is found
// again after a recompute has rebuilt the body. All zero by default (a face).
struct ShapeSignature {
    enum class Kind : std::uint32_t { Face = 0, Edge = 1, Vertex = 2 };

    Kind kind = Kind::Face;
    std::int32_t geometry = 0; // the kernel's surface or curve type code
    std::array<double, 3> point{0.0, 0.0, 0.0};
    std::array<double, 3> direction{0.0, 0.0, 0.0};
    double size = 0.0; // area, length or 0

    bool operator==(const ShapeSignature&) const = default;

    // {"k", "g", "p", "d", "s"}, numbers rounded to six decimals.
    QJsonObject toJson() const;
    static ShapeSignature fromJson(const QJsonObject& json);

    // How far candidate b is from the stored signature a, lower is better; point
    // distances count relative to scale (the body's size). Another kind scores 1e9.
    static double matchDistance(const ShapeSignature& a, const ShapeSignature& b, double scale);
};

// The signature of a face, edge or vertex; the all-zero signature for anything else.
ShapeSignature describeShape(const TopoDS_Shape& shape);

// The sub-shape of the body, of the signature's kind, that matches it best; null when
// even the best scores above 1.5. bestScore gets that score (1e18 when the body has no
// sub-shape of the kind); it is left alone for a null body.
TopoDS_Shape findClosestSubShape(const TopoDS_Shape& body, const ShapeSignature& signature,
                                 double* bestScore = nullptr);

// Selection references of picked sub-shapes and datum elements.
QJsonObject faceRef(int bodyId, const TopoDS_Shape& face);
QJsonObject edgeRef(int bodyId, const TopoDS_Shape& edge);
// {"kind": "origin"} for the negative origin ids, {"kind": "feature"} otherwise.
QJsonObject datumReferenceJson(int id);

// x taken to the nearest multiple of 10^-decimals, halves away from zero.
// Values too large to carry that many decimals are returned unchanged.
double roundToDecimals(double x, int decimals);

} // namespace qor::model
