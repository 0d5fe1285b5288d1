#include "app/Examples.h"
#include "model/DocumentController.h"
#include "tests/common/ShapeChecks.h"

#include <BRepGProp.hxx>
#include <GProp_GProps.hxx>

#include <gtest/gtest.h>

#include <numbers>

namespace {

using qor::app::DocumentController;

constexpr double pi = std::numbers::pi;

double solidVolume(const TopoDS_Shape& shape)
{
    GProp_GProps props;
    BRepGProp::VolumeProperties(shape, props, true);
    return props.Mass();
}

QStringList featureTypes(const qor::model::Document& doc)
{
    QStringList types;
    for (const auto& f : doc.features)
        types << f->type;
    return types;
}

// Expected volumes worked out by hand from the dimensions the examples are built with.
double bracketVolume(double width = 120.0, double thickness = 12.0)
{
    const double plate = (width * 70.0 - (4.0 - pi) * 8.0 * 8.0) * thickness; // rounded corners
    const double upright
        = (80.0 * 62.0 + pi * 40.0 * 40.0 / 2.0 - pi * 16.0 * 16.0) * thickness
          - 80.0 * thickness * thickness; // the part standing in the plate counts once
    const double rib = 33.0 * 36.0 / 2.0 * 10.0;
    // Two M8 counterbored clearance holes from the plate's top face.
    const double holes = 2.0 * (pi * 7.5 * 7.5 * 4.0 + pi * 4.5 * 4.5 * (thickness - 4.0));
    return plate + upright + rib - holes;
}

double flangeVolume()
{
    // Pappus: 2π × first moment of the profile about the axis.
    const double rings[][3] = {{20, 60, 14}, {20, 28, 36}}; // inner, outer radius, height
    double volume = 0.0;
    for (const auto& r : rings)
        volume += pi * (r[1] * r[1] - r[0] * r[0]) * r[2];
    // The slope from (32, 14) to (28, 18): a triangle right of x = 28.
    volume += 2.0 * pi * (4.0 * 4.0 / 2.0) * (28.0 + 4.0 / 3.0);
    return volume - 6.0 * pi * 3.4 * 3.4 * 14.0; // six M8 tap drill holes through the disc
}

double housingVolume()
{
    const double outer = (140.0 * 90.0 - (4.0 - pi) * 12.0 * 12.0) * 45.0;
    const double inner = (135.0 * 85.0 - (4.0 - pi) * 9.5 * 9.5) * 42.5;
    return outer - inner;
}

TEST(Examples, BuildTheirFeaturesAndRecomputeToTheirVolumes)
{
    struct Case {
        QString kind;
        QString name;
        QStringList types;
        QString material;
        double volume;
    };
    const Case cases[] = {
        {"bracket",
         "Lagerbock",
         {"sketch", "extrude", "sketch", "extrude", "sketch", "extrude", "sketch", "hole",
          "fillet"},
         "Aluminium",
         bracketVolume()},
        {"flange",
         "Flansch",
         {"sketch", "revolve", "sketch", "hole", "pattern_circ"},
         "Edelstahl",
         flangeVolume()},
        {"housing", "Gehäuse", {"box", "fillet", "shell"}, "ABS (Kunststoff)", housingVolume()},
    };
    DocumentController controller;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind.toStdString());
        qor::app::buildExample(controller, c.kind);
        const qor::model::Document& doc = *controller.document;
        EXPECT_EQ(doc.name, c.name);
        EXPECT_EQ(featureTypes(doc), c.types);
        for (const auto& f : doc.features)
            EXPECT_TRUE(f->error.isEmpty())
                << f->type.toStdString() << ": " << f->error.toStdString();
        ASSERT_EQ(doc.current.bodies.get().size(), 1u);
        const auto& [id, body] = *doc.current.bodies.get().begin();
        EXPECT_NEAR(solidVolume(body.shape), c.volume, c.volume * 1e-3);
        EXPECT_EQ(doc.bodyAppearance(id).material, c.material);
        // One undo step leads back to the empty document.
        EXPECT_EQ(controller.history.size(), 2u);
        EXPECT_EQ(controller.undoText(), QStringLiteral("Beispiel"));
    }

    // The kind is compared exactly; an unknown one leaves an empty document.
    qor::app::buildExample(controller, QStringLiteral("Bracket"));
    EXPECT_TRUE(controller.document->features.empty());
    EXPECT_EQ(controller.history.size(), 1u);
}

TEST(Examples, BracketParametersDriveSketchExtrusionsAndHoleSketch)
{
    DocumentController controller;
    qor::app::buildExample(controller, QStringLiteral("bracket"));
    qor::model::Document& doc = *controller.document;
    ASSERT_EQ(doc.parameters.size(), 3u);
    doc.parameters[0].expr = QStringLiteral("150 mm"); // Breite
    doc.parameters[2].expr = QStringLiteral("10 mm"); // Dicke
    controller.recompute();
    ASSERT_EQ(doc.current.bodies.get().size(), 1u);
    const TopoDS_Shape& shape = doc.current.bodies.get().begin()->second.shape;
    const double expected = bracketVolume(150.0, 10.0);
    EXPECT_NEAR(solidVolume(shape), expected, expected * 1e-3);
    // The plate widens about the fixed centre line.
    const std::array<double, 6> box = qor::test::extent(shape);
    EXPECT_NEAR(box[0], -75.0, 1e-3);
    EXPECT_NEAR(box[3], 75.0, 1e-3);
}

} // namespace
