#pragma once

#include "model/ShapeSignature.h"

#include <QJsonObject>
#include <QString>

#include <gp_Trsf.hxx>

#include <array>
#include <cstdint>

namespace qor::model {

// One member of an assembly: the bodies of another file, or of geometry stored in
// the document, at a rigid placement.
struct Component {
    std::int32_t id = 0;
    QString name;
    QString path; // relative to the assembly's folder, or absolute; empty when embedded
    QString embedded; // shape text encoding; wins over path when both are set
    // 3 x 4 matrix row by row: rotation rows with the translation in m[3], m[7], m[11].
    std::array<double, 12> m{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0};
    bool grounded = false;
    bool hidden = false;
    QString status; // last load failure; never stored

    bool operator==(const Component&) const = default;

    gp_Trsf transform() const;
    void setPlacement(const gp_Trsf& trsf);

    QJsonObject toJson() const;
    static Component fromJson(const QJsonObject& json);
};

// One side of a mate: an element of a component in the component's own coordinates.
struct MateRef {
    std::int32_t comp = 0;
    ShapeSignature sig;

    bool operator==(const MateRef&) const = default;
};

// A constraint between two components.
struct Mate {
    std::int32_t id = 0;
    QString name;
    QString type = QStringLiteral("planar");
    MateRef a;
    MateRef b;
    QString value = QStringLiteral("0"); // expression text
    bool flip = false;
    bool suppressed = false;
    QString status; // the solver's last message; never stored

    bool operator==(const Mate&) const = default;

    QJsonObject toJson() const;
    static Mate fromJson(const QJsonObject& json);
};

// German label of a mate type; an unknown type is returned as it is.
QString mateTypeLabel(const QString& type);

} // namespace qor::model
