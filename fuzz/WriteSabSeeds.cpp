// Writes the starting corpus of the ACIS targets into the folder given: generated bodies,
// sound and with the damage the reader tests build, and the error fixtures of the tests.

#include "fuzz/SeedFile.h"
#include "tests/fixtures/SabBodyFixtures.h"
#include "tests/fixtures/SabFixtures.h"

#include <BRepPrimAPI_MakeBox.hxx>

#include <QDir>

#include <cstdio>
#include <utility>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "Aufruf: %s ORDNER\n", argv[0]);
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    using qor::test::SabBodyOptions;
    const TopoDS_Shape box = BRepPrimAPI_MakeBox(10, 20, 30).Shape();
    SabBodyOptions unsupported;
    unsupported.unsupportedFaces = {1};
    SabBodyOptions loopless;
    loopless.looplessFaces = {2};
    SabBodyOptions stray;
    stray.strayLoopLink = true;
    SabBodyOptions placed;
    placed.unitFactor = 25.4;
    placed.scale = 2.0;
    placed.translation = gp_XYZ(5, -5, 1);
    const std::vector<std::pair<QString, SabBodyOptions>> bodies = {
        {QStringLiteral("quader"), {}},
        {QStringLiteral("spline-flaeche"), unsupported},
        {QStringLiteral("ohne-schleife"), loopless},
        {QStringLiteral("schleifen-link"), stray},
        {QStringLiteral("platziert"), placed},
    };
    for (const auto& [name, options] : bodies) {
        if (!writeFile(dir, name + QStringLiteral(".sab"), qor::test::sabFromShape(box, options)))
            return 1;
    }
    for (const qor::test::SabErrorFixture& fixture : qor::test::sabErrorFixtures()) {
        if (!writeFile(dir, QStringLiteral("fehler-%1.sab").arg(QString::fromLatin1(fixture.name)),
                       fixture.bytes))
            return 1;
    }
    return 0;
}
