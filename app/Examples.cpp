#include "app/Examples.h"

#include "model/DocumentController.h"
#include "model/ShapeSignature.h"

#include <QJsonObject>

#include <TopAbs_ShapeEnum.hxx>
#include <TopExp.hxx>
#include <TopTools_IndexedMapOfShape.hxx>

#include <cmath>
#include <functional>
#include <utility>
#include <vector>

namespace qor::app {

namespace {

using qor::model::Document;
using qor::model::ShapeSignature;
using qor::sketch::ConstraintType;
using qor::sketch::Sketch;

constexpr int planeXY = -1;
constexpr int planeXZ = -2;
constexpr int planeYZ = -3;
constexpr int axisZ = -13;

QJsonObject planeRef(int datumId)
{
    return qor::model::datumReferenceJson(datumId);
}

// A sketch feature on an origin plane, shifted along its normal by the expression.
qor::model::Feature* addSketch(Document& doc, int datumId, const QString& offset = {})
{
    qor::model::Feature* feature = doc.addSketch(planeRef(datumId));
    if (!offset.isEmpty())
        feature->params.insert(QStringLiteral("offset"), offset);
    return feature;
}

// Lines from each point to the next and from the last back to the first.
std::vector<int> addClosedPolygon(Sketch& sketch,
                                  const std::vector<std::pair<double, double>>& corners)
{
    std::vector<int> points;
    for (const auto& [x, y] : corners)
        points.push_back(int(sketch.addPoint(true, x, y)));
    std::vector<int> lines;
    for (std::size_t i = 0; i < points.size(); ++i)
        lines.push_back(int(sketch.addLine(points[i], points[(i + 1) % points.size()], false)));
    return lines;
}

void constrain(Sketch& sketch, ConstraintType type, int a, int b = -1, int c = -1)
{
    sketch.addConstraint(type, a, b, c, 0.0);
}

QJsonObject sketchPoints(int featureId)
{
    return QJsonObject{{QStringLiteral("kind"), QStringLiteral("sketch")},
                       {QStringLiteral("id"), featureId}};
}

// The lowest-numbered body of the current state, or null.
const qor::model::Body* firstBody(const Document& doc)
{
    const auto& bodies = doc.current.bodies.get();
    return bodies.empty() ? nullptr : &bodies.begin()->second;
}

// References of the body's sub-shapes of one kind, in the kernel's indexed order,
// whose signature passes the test.
QJsonArray subShapeRefs(const qor::model::Body& body, TopAbs_ShapeEnum kind,
                        const std::function<bool(const ShapeSignature&)>& wanted)
{
    TopTools_IndexedMapOfShape map;
    TopExp::MapShapes(body.shape, kind, map);
    QJsonArray refs;
    for (int i = 1; i <= map.Extent(); ++i) {
        if (!wanted(qor::model::describeShape(map(i))))
            continue;
        refs.append(kind == TopAbs_EDGE ? qor::model::edgeRef(body.id, map(i))
                                        : qor::model::faceRef(body.id, map(i)));
    }
    return refs;
}

bool near(double value, double target)
{
    return std::abs(value - target) < 1e-6;
}

bool isVertical(const ShapeSignature& s)
{
    return near(std::abs(s.direction[2]), 1.0);
}

void addParameter(Document& doc, const QString& name, const QString& expr, const QString& comment)
{
    qor::model::Parameter p;
    p.name = name;
    p.expr = expr;
    p.unit = QStringLiteral("mm");
    p.comment = comment;
    doc.parameters.push_back(p);
}

qor::model::BodyAppearance buildBracket(DocumentController& controller)
{
    Document& doc = *controller.document;
    doc.name = QStringLiteral("Lagerbock");
    addParameter(doc, QStringLiteral("Breite"), QStringLiteral("120 mm"),
                 QStringLiteral("Grundplatte"));
    addParameter(doc, QStringLiteral("Tiefe"), QStringLiteral("70 mm"), {});
    addParameter(doc, QStringLiteral("Dicke"), QStringLiteral("12 mm"),
                 QStringLiteral("Blechstärke"));

    // Base plate, symmetric about a fixed construction centre line.
    qor::model::Feature* s1 = addSketch(doc, planeXY);
    Sketch& plate = *s1->sketch;
    const std::vector<int> edges
        = addClosedPolygon(plate, {{-60, -35}, {60, -35}, {60, 35}, {-60, 35}});
    constrain(plate, ConstraintType::Horizontal, edges[0]);
    constrain(plate, ConstraintType::Horizontal, edges[2]);
    constrain(plate, ConstraintType::Vertical, edges[1]);
    constrain(plate, ConstraintType::Vertical, edges[3]);
    const int centre = int(plate.addLineAt(true, 0, -35, 0, 35));
    const int centreStart = plate.startPoint(centre);
    constrain(plate, ConstraintType::Symmetric, plate.startPoint(edges[0]),
              plate.endPoint(edges[0]), centre);
    constrain(plate, ConstraintType::Vertical, centre);
    constrain(plate, ConstraintType::Fixed, centreStart);
    constrain(plate, ConstraintType::Midpoint, centreStart, edges[0]);
    exampleAddDimension(plate, ConstraintType::Distance, edges[0], -1, "Breite", 0, -14);
    exampleAddDimension(plate, ConstraintType::Distance, edges[1], -1, "Tiefe", 14, 0);
    doc.addFeature(QStringLiteral("extrude"),
                   {{QStringLiteral("profile"), exampleSketchRef(s1->id)},
                    {QStringLiteral("distance"), QStringLiteral("Dicke")}});

    // Upright with a round top and a bore.
    qor::model::Feature* s2 = addSketch(doc, planeXZ, QStringLiteral("23"));
    Sketch& upright = *s2->sketch;
    const int q0 = int(upright.addPoint(true, -40, 0));
    const int q1 = int(upright.addPoint(true, 40, 0));
    const int q2 = int(upright.addPoint(true, 40, 62));
    const int q3 = int(upright.addPoint(true, -40, 62));
    const int c = int(upright.addPoint(true, 0, 62));
    const int la = int(upright.addLine(q0, q1, false));
    const int lb = int(upright.addLine(q1, q2, false));
    const int lc = int(upright.addLine(q3, q0, false));
    const int arc = int(upright.addArc(c, q2, q3, false));
    constrain(upright, ConstraintType::Horizontal, la);
    constrain(upright, ConstraintType::Vertical, lb);
    constrain(upright, ConstraintType::Vertical, lc);
    constrain(upright, ConstraintType::Tangent, lb, arc);
    constrain(upright, ConstraintType::Tangent, lc, arc);
    const int bore = int(upright.addCircle(c, false, 16));
    exampleAddDimension(upright, ConstraintType::Diameter, bore, -1, {}, 24, 20);
    exampleAddDimension(upright, ConstraintType::Distance, la, -1, {}, 0, -10);
    exampleAddDimension(upright, ConstraintType::VerticalDistance, q0, c, {}, -60, 0);
    doc.addFeature(QStringLiteral("extrude"),
                   {{QStringLiteral("profile"), exampleSketchRef(s2->id)},
                    {QStringLiteral("distance"), QStringLiteral("Dicke")},
                    {QStringLiteral("op"), QStringLiteral("join")}});

    // Stiffening rib between plate and upright.
    qor::model::Feature* s3 = addSketch(doc, planeYZ);
    addClosedPolygon(*s3->sketch, {{-23, 12}, {10, 12}, {-23, 48}});
    doc.addFeature(QStringLiteral("extrude"),
                   {{QStringLiteral("profile"), exampleSketchRef(s3->id)},
                    {QStringLiteral("extent"), QStringLiteral("sym")},
                    {QStringLiteral("distance"), QStringLiteral("10")},
                    {QStringLiteral("op"), QStringLiteral("join")}});

    // Two counterbored mounting holes on the plate's top face.
    qor::model::Feature* s4 = addSketch(doc, planeXY, QStringLiteral("Dicke"));
    s4->sketch->addPoint(false, -42, 12);
    s4->sketch->addPoint(false, 42, 12);
    doc.addFeature(QStringLiteral("hole"),
                   {{QStringLiteral("points"), sketchPoints(s4->id)},
                    {QStringLiteral("kind"), QStringLiteral("cbore")},
                    {QStringLiteral("thread"), QStringLiteral("M8")},
                    {QStringLiteral("fit"), QStringLiteral("clear")},
                    {QStringLiteral("extent"), QStringLiteral("all")},
                    {QStringLiteral("cboreDiameter"), QStringLiteral("15 mm")},
                    {QStringLiteral("cboreDepth"), QStringLiteral("4 mm")}});

    controller.recompute();
    if (const qor::model::Body* body = firstBody(doc)) {
        // The four vertical corner edges of the plate.
        const QJsonArray corners = subShapeRefs(*body, TopAbs_EDGE, [](const ShapeSignature& s) {
            return isVertical(s) && near(std::abs(s.point[0]), 60)
                   && near(std::abs(s.point[1]), 35);
        });
        doc.addFeature(QStringLiteral("fillet"), {{QStringLiteral("edges"), corners},
                                                  {QStringLiteral("radius"), QStringLiteral("8")}});
    }
    return {QStringLiteral("Aluminium"), 0.80, 0.83, 0.88, 2.7};
}

qor::model::BodyAppearance buildFlange(DocumentController& controller)
{
    Document& doc = *controller.document;
    doc.name = QStringLiteral("Flansch");
    qor::model::Feature* f1 = addSketch(doc, planeXZ);
    addClosedPolygon(*f1->sketch,
                     {{20, 0}, {60, 0}, {60, 14}, {32, 14}, {28, 18}, {28, 50}, {20, 50}});
    doc.addFeature(QStringLiteral("revolve"),
                   {{QStringLiteral("profile"), exampleSketchRef(f1->id)},
                    {QStringLiteral("axis"), qor::model::datumReferenceJson(axisZ)}});
    qor::model::Feature* f2 = addSketch(doc, planeXY, QStringLiteral("14"));
    f2->sketch->addPoint(false, 46, 0);
    qor::model::Feature* hole = doc.addFeature(
        QStringLiteral("hole"), {{QStringLiteral("points"), sketchPoints(f2->id)},
                                 {QStringLiteral("extent"), QStringLiteral("all")},
                                 {QStringLiteral("thread"), QStringLiteral("M8")},
                                 {QStringLiteral("fit"), QStringLiteral("threaded")}});
    doc.addFeature(QStringLiteral("pattern_circ"),
                   {{QStringLiteral("features"), QJsonArray{hole->id}},
                    {QStringLiteral("count"), QStringLiteral("6")}});
    return {QStringLiteral("Edelstahl"), 0.78, 0.80, 0.84, 7.85};
}

qor::model::BodyAppearance buildHousing(DocumentController& controller)
{
    Document& doc = *controller.document;
    doc.name = QStringLiteral("Gehäuse");
    doc.addFeature(QStringLiteral("box"), {{QStringLiteral("length"), QStringLiteral("140")},
                                           {QStringLiteral("width"), QStringLiteral("90")},
                                           {QStringLiteral("height"), QStringLiteral("45")}});
    controller.recompute();
    const qor::model::Body* body = firstBody(doc);
    if (!body)
        return {QStringLiteral("ABS (Kunststoff)"), 0.12, 0.14, 0.17, 1.05};
    const int bodyId = body->id;
    doc.addFeature(QStringLiteral("fillet"),
                   {{QStringLiteral("edges"), subShapeRefs(*body, TopAbs_EDGE, isVertical)},
                    {QStringLiteral("radius"), QStringLiteral("12")}});
    controller.recompute();
    // The rounded box keeps the box's body id; the open side is its top face.
    QJsonArray top;
    const auto& bodies = doc.current.bodies.get();
    if (const auto it = bodies.find(bodyId); it != bodies.end())
        top = subShapeRefs(it->second, TopAbs_FACE, [](const ShapeSignature& s) {
            return s.direction[2] > 0.99 && s.point[2] > 44;
        });
    doc.addFeature(QStringLiteral("shell"), {{QStringLiteral("faces"), top},
                                             {QStringLiteral("thickness"), QStringLiteral("2.5")}});
    return {QStringLiteral("ABS (Kunststoff)"), 0.12, 0.14, 0.17, 1.05};
}

} // namespace

void exampleAddDimension(Sketch& sketch, ConstraintType type, int a, int b,
                         const std::string& expression, double offsetX, double offsetY)
{
    const int id = int(sketch.addDimension(type, a, b, -1));
    qor::sketch::Constraint* dimension = sketch.findConstraint(id);
    if (!dimension)
        return;
    if (type == ConstraintType::HorizontalDistance || type == ConstraintType::VerticalDistance)
        dimension->value = std::abs(dimension->value);
    dimension->labelOffset = {offsetX, offsetY};
    dimension->expression = expression;
}

QJsonArray exampleSketchRef(int featureId)
{
    return QJsonArray{sketchPoints(featureId)};
}

bool isExampleKind(const QString& kind)
{
    return kind.isEmpty() || kind == QStringLiteral("bracket") || kind == QStringLiteral("flange")
           || kind == QStringLiteral("housing");
}

void buildExample(DocumentController& controller, const QString& kind)
{
    using Builder = qor::model::BodyAppearance (*)(DocumentController&);
    Builder build = nullptr;
    if (kind.isEmpty() || kind == QStringLiteral("bracket"))
        build = buildBracket;
    else if (kind == QStringLiteral("flange"))
        build = buildFlange;
    else if (kind == QStringLiteral("housing"))
        build = buildHousing;

    controller.newDocument();
    if (build) {
        const qor::model::BodyAppearance look = build(controller);
        controller.recompute();
        for (const auto& [id, body] : controller.document->current.bodies.get())
            controller.document->appearance[id] = look;
    }
    controller.commit(QStringLiteral("Beispiel"));
}

} // namespace qor::app
