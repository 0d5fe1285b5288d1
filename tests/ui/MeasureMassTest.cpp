#include "app/Examples.h"
#include "model/DocumentController.h"
#include "panels/MassTable.h"
#include "panels/MeasurePanel.h"
#include "panels/Measurement.h"
#include "panels/dialogs/MassPropertiesDialog.h"

#include "ShellDocument.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>

#include <BRepAdaptor_Curve.hxx>
#include <BRepAdaptor_Surface.hxx>
#include <BRepBuilderAPI_Sewing.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>

#include <gtest/gtest.h>

#include <numbers>

namespace {

using qor::app::PickInfo;

// The first sub-shape of the type that the test accepts.
template <typename Accept>
TopoDS_Shape findSub(const TopoDS_Shape& shape, TopAbs_ShapeEnum type, Accept accept)
{
    for (TopExp_Explorer it(shape, type); it.More(); it.Next()) {
        if (accept(it.Current()))
            return it.Current();
    }
    return {};
}

TopoDS_Shape boxFace(const TopoDS_Shape& box, double z)
{
    return findSub(box, TopAbs_FACE, [z](const TopoDS_Shape& s) {
        const BRepAdaptor_Surface surface(TopoDS::Face(s));
        return surface.GetType() == GeomAbs_Plane
               && surface.Plane().Axis().Direction().IsParallel(gp::DZ(), 1e-9)
               && std::abs(surface.Plane().Location().Z() - z) < 1e-9;
    });
}

PickInfo pick(int kind, const TopoDS_Shape& shape)
{
    PickInfo info;
    info.kind = kind;
    info.shape = shape;
    return info;
}

TEST(Measurement, LinesOfOneAndTwoPicks)
{
    const TopoDS_Shape box = BRepPrimAPI_MakeBox(10, 10, 10).Shape();
    const TopoDS_Shape cylinder = BRepPrimAPI_MakeCylinder(5, 10).Shape();
    const TopoDS_Shape circle = findSub(cylinder, TopAbs_EDGE, [](const TopoDS_Shape& s) {
        return BRepAdaptor_Curve(TopoDS::Edge(s)).GetType() == GeomAbs_Circle;
    });
    const TopoDS_Shape mantle = findSub(cylinder, TopAbs_FACE, [](const TopoDS_Shape& s) {
        return BRepAdaptor_Surface(TopoDS::Face(s)).GetType() == GeomAbs_Cylinder;
    });
    const TopoDS_Shape farCylinder
        = BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(30, 0, 0), gp::DZ()), 5, 10).Shape();
    const TopoDS_Shape farMantle = findSub(farCylinder, TopAbs_FACE, [](const TopoDS_Shape& s) {
        return BRepAdaptor_Surface(TopoDS::Face(s)).GetType() == GeomAbs_Cylinder;
    });
    const TopoDS_Shape bottom = boxFace(box, 0.0);
    const TopoDS_Shape top = boxFace(box, 10.0);
    ASSERT_FALSE(circle.IsNull() || mantle.IsNull() || bottom.IsNull() || top.IsNull());

    struct Case {
        const char* what;
        std::vector<PickInfo> picks;
        QStringList lines;
    };
    const Case cases[] = {
        {"planar face", {pick(1, top)}, {"Fläche: <b>100,00 mm²</b>"}},
        {"cylinder",
         {pick(1, mantle)},
         {"Fläche: <b>314,16 mm²</b>", "Zylinder ⌀ <b>10,000 mm</b>"}},
        {"circular edge",
         {pick(2, circle)},
         {"Länge: <b>31,416 mm</b>", "Kreis ⌀ <b>10,000 mm</b> (R 5,000)"}},
        // Outward normals of opposite faces; the third pick does not count.
        {"opposite faces",
         {pick(1, bottom), pick(1, top), pick(1, mantle)},
         {"Abstand: <b>10,000 mm</b>", "ΔX 0,00  ΔY 0,00  ΔZ 10,00", "Winkel: <b>180,00°</b>"}},
        {"swapped",
         {pick(1, top), pick(1, bottom)},
         {"Abstand: <b>10,000 mm</b>", "ΔX 0,00  ΔY 0,00  ΔZ -10,00", "Winkel: <b>180,00°</b>"}},
        {"plane and cylinder: no angle",
         {pick(1, top), pick(1, farMantle)},
         {"Abstand: <b>15,000 mm</b>", "ΔX 15,00  ΔY 0,00  ΔZ 0,00"}},
        {"no sub-shape", {pick(4, {}), pick(1, top)}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(qor::app::measurementLines(c.picks), c.lines);
    }

    // The panel falls back to the hint when nothing can be measured.
    qor::app::MeasurePanel panel(nullptr, nullptr);
    panel.updateMeasurement({});
    EXPECT_EQ(panel.resultText(), QStringLiteral("Ein oder zwei Elemente wählen"));
}

TEST(MassProperties, BoxLineTotalsAndClosedSolidsOnly)
{
    qor::app::DocumentController controller;
    qor::model::Document& doc = *controller.document;
    doc.addFeature(QStringLiteral("box"), {{"x", "20 mm"},
                                           {"y", "20 mm"},
                                           {"length", "10 mm"},
                                           {"width", "10 mm"},
                                           {"height", "10 mm"}});
    controller.recompute();
    ASSERT_EQ(doc.current.bodies.get().size(), 1u);

    qor::app::MassDialog dialog(controller);
    EXPECT_EQ(dialog.csv(), QStringLiteral("Körper;Material;Volumen cm³;Oberfläche cm²;Masse g;"
                                           "Schwerpunkt X;Y;Z;Länge;Breite;Höhe\n"
                                           "Körper 1;Stahl;1,000;6,00;7,85;20,000;20,000;5,000;"
                                           "10,000;10,000;10,000\n"));
    const auto* table = dialog.findChild<QTableWidget*>();
    ASSERT_NE(table, nullptr);
    ASSERT_EQ(table->rowCount(), 1);
    EXPECT_EQ(table->item(0, 5)->text(), QStringLiteral("20,00 / 20,00 / 5,00"));
    EXPECT_EQ(table->item(0, 6)->text(), QStringLiteral("10,00 × 10,00 × 10,00"));
    bool totals = false;
    for (const QLabel* label : dialog.findChildren<QLabel*>())
        totals |= label->text()
                  == QStringLiteral("<b>Gesamt:</b> 1,000 cm³ · <b>7,85 g</b> (0,008 kg)");
    EXPECT_TRUE(totals);
    dialog.show();
    for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
        if (button->text() == QStringLiteral("Als CSV kopieren"))
            button->click();
    }
    EXPECT_EQ(QApplication::clipboard()->text(), dialog.csv());
    EXPECT_TRUE(dialog.isVisible()); // copying does not close the dialog

    // An open shell (the box without its top) encloses nothing and weighs nothing.
    BRepBuilderAPI_Sewing sewing;
    const TopoDS_Shape cube = BRepPrimAPI_MakeBox(10, 10, 10).Shape();
    for (TopExp_Explorer it(cube, TopAbs_FACE); it.More(); it.Next()) {
        if (!it.Current().IsSame(boxFace(cube, 10.0)))
            sewing.Add(it.Current());
    }
    sewing.Perform();
    doc.current.bodies.edit().begin()->second.shape = sewing.SewedShape();
    const std::vector<qor::app::MassRow> rows = qor::app::massRows(doc);
    EXPECT_EQ(rows[0].volume, 0.0);
    EXPECT_EQ(rows[0].mass, 0.0);
    EXPECT_NEAR(rows[0].area, 5.0, 1e-9);
}

TEST(MassProperties, HousingExampleAndScreenshots)
{
    using std::numbers::pi;
    qor::app::DocumentController controller;
    qor::app::buildExample(controller, QStringLiteral("housing"));
    const std::vector<qor::app::MassRow> rows = qor::app::massRows(*controller.document);
    ASSERT_EQ(rows.size(), 1u);
    const qor::app::MassRow& row = rows[0];

    // A rounded box 140 × 90 × 45 (corner radius 12), shelled 2.5 inward with the top open.
    auto plan = [](double w, double d, double r) { return w * d - (4.0 - pi) * r * r; };
    auto perimeter = [](double w, double d, double r) { return 2 * (w + d) - 8 * r + 2 * pi * r; };
    const double volume = plan(140, 90, 12) * 45 - plan(135, 85, 9.5) * 42.5;
    const double area
        = 2 * plan(140, 90, 12) + perimeter(140, 90, 12) * 45 + perimeter(135, 85, 9.5) * 42.5;
    EXPECT_EQ(row.material, QStringLiteral("ABS (Kunststoff)"));
    EXPECT_NEAR(row.volume, volume / 1000.0, 1e-4);
    EXPECT_NEAR(row.area, area / 100.0, 1e-3);
    EXPECT_NEAR(row.mass, row.volume * 1.05, 1e-9);
    EXPECT_NEAR(row.extentX, 140.0, 1e-6);
    EXPECT_NEAR(row.extentY, 90.0, 1e-6);
    EXPECT_NEAR(row.extentZ, 45.0, 1e-6);
    EXPECT_LT(row.centre.Z(), 22.5); // the floor is there, the top is open

    qor::app::MassDialog dialog(controller);
    dialog.show();
    EXPECT_TRUE(qor::test::saveShot(dialog, QStringLiteral("mass-housing.png")));

    // The panel over a stand-in for the 3D view, measuring a top rim edge and the floor.
    const TopoDS_Shape shape = controller.document->current.bodies.get().begin()->second.shape;
    const TopoDS_Shape rimArc = findSub(shape, TopAbs_EDGE, [](const TopoDS_Shape& s) {
        const BRepAdaptor_Curve curve(TopoDS::Edge(s));
        return curve.GetType() == GeomAbs_Circle && curve.Value(curve.FirstParameter()).Z() > 44;
    });
    QWidget view;
    view.resize(640, 420);
    view.setStyleSheet(QStringLiteral("background:#0A111F;"));
    auto* panel = new qor::app::MeasurePanel(&view, &view);
    panel->updateMeasurement({pick(2, rimArc)});
    panel->move(view.width() - panel->width() - 14, 20);
    view.show();
    EXPECT_TRUE(panel->resultText().contains(QStringLiteral("Kreis ⌀ <b>24,000 mm</b> (R 12,000)")))
        << panel->resultText().toStdString();
    EXPECT_TRUE(qor::test::saveShot(view, QStringLiteral("measure-housing.png")));
}

TEST(MassProperties, CsvFieldsQuotedOnlyWhenNeeded)
{
    const std::pair<QString, QString> cases[] = {
        {"Welle", "Welle"},
        {"Platte;roh", "\"Platte;roh\""},
        {"Rohr 1\" lang", "\"Rohr 1\"\" lang\""},
        {"Deckel\noben", "\"Deckel\noben\""},
        {"", ""},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(qor::app::csvField(in), out) << in.toStdString();
}

} // namespace
