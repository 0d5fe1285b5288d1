// Writes generated Parasolid transmissions into the first folder given and Solid Edge
// parts holding them (plain and zlib-compressed) into the second: the starting corpora of
// the Parasolid and Solid Edge reader targets.

#include "fuzz/SeedFile.h"
#include "tests/fixtures/CompoundFileBuilder.h"
#include "tests/fixtures/XtShapeWriter.h"

#include <BRepBuilderAPI_NurbsConvert.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeCone.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRepPrimAPI_MakeSphere.hxx>
#include <BRepPrimAPI_MakeTorus.hxx>

#include <QDir>

#include <cstdio>
#include <utility>
#include <vector>

namespace {

// qCompress puts the length in front of a zlib stream.
QByteArray zlibStream(const QByteArray& bytes)
{
    return qCompress(bytes).mid(4);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "Aufruf: %s XT-ORDNER SOLID-EDGE-ORDNER\n", argv[0]);
        return 2;
    }
    const QDir xtDir(QString::fromLocal8Bit(argv[1]));
    const QDir partDir(QString::fromLocal8Bit(argv[2]));
    const TopoDS_Shape box = BRepPrimAPI_MakeBox(0.01, 0.02, 0.03).Shape();
    const std::vector<std::pair<QString, TopoDS_Shape>> shapes = {
        {QStringLiteral("quader"), box},
        {QStringLiteral("zylinder"), BRepPrimAPI_MakeCylinder(0.01, 0.02).Shape()},
        {QStringLiteral("kegel"), BRepPrimAPI_MakeCone(0.01, 0.005, 0.02).Shape()},
        {QStringLiteral("kugel"), BRepPrimAPI_MakeSphere(0.01).Shape()},
        {QStringLiteral("torus"), BRepPrimAPI_MakeTorus(0.02, 0.005).Shape()},
        {QStringLiteral("nurbs"), BRepBuilderAPI_NurbsConvert(box).Shape()},
    };
    for (const auto& [name, shape] : shapes) {
        const QByteArray xt = qor::fixtures::xtFromShape(shape);
        qor::test::CompoundFileBuilder plain;
        plain.addStream(QStringLiteral("Geometrie"), xt);
        qor::test::CompoundFileBuilder packed;
        const int storage = packed.addStorage(QStringLiteral("PARASOLID"));
        packed.addStream(QStringLiteral("STREAM0.P_B"), zlibStream(xt), storage);
        if (!writeFile(xtDir, name + QStringLiteral(".x_b"), xt)
            || !writeFile(partDir, name + QStringLiteral(".par"), plain.build())
            || !writeFile(partDir, name + QStringLiteral("-z.par"), packed.build()))
            return 1;
    }
    return 0;
}
