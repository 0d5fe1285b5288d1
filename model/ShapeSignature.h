#pragma once

#include <QJsonObject>

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
};

// x taken to the nearest multiple of 10^-decimals, halves away from zero.
// Values too large to carry that many decimals are returned unchanged.
double roundToDecimals(double x, int decimals);

} // namespace qor::model
