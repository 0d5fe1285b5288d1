// Writes the starting corpus of the instance graph target into the folder given: the tests'
// STEP, IGES and glTF assemblies (sound, doubling and self-placed) and nested files, and two
// reader answers, each behind the tag byte that picks its scan.

#include "io/KernelMessage.h"
#include "io/ReaderProcess.h"
#include "tests/fixtures/HostileAssemblies.h"
#include "tests/fixtures/NestedFiles.h"

#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>

#include <QDir>
#include <QFile>

#include <cstdio>
#include <utility>
#include <vector>

namespace {

enum Tag : char { step = 0, iges = 1, gltf = 2, answer = 3 };

// A result with a note, a warning, a coloured body, a plain one and one without a shape.
QByteArray soundAnswer()
{
    using namespace qor::io;
    ImportResult result;
    result.ok = true;
    result.notes = {QStringLiteral("Einheit: mm")};
    result.warning = QStringLiteral("1 von 6 Flächen ausgelassen");
    result.bodies.push_back({QStringLiteral("Quader"), BRepPrimAPI_MakeBox(1, 2, 3).Shape(), true,
                             1, 0, 0});
    result.bodies.push_back({QStringLiteral("Zylinder"), BRepPrimAPI_MakeCylinder(2, 5).Shape()});
    result.bodies.push_back({QStringLiteral("leer"), TopoDS_Shape()});
    return encodeResult(result, ReadStop::none);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "Aufruf: %s ORDNER\n", argv[0]);
        return 2;
    }
    qor::io::keepOnlyKernelFailures();
    using namespace qor::fixtures;
    const std::vector<std::pair<Tag, QByteArray>> seeds = {
        {step, stepOneBox()},
        {step, stepDoublingAssembly(3)},
        {step, stepSelfPlacedAssembly()},
        {step, stepNestedParens(40)},
        {step, stepReferenceChain(50)},
        {step, stepManyNestedPoints(4, 8)},
        {iges, igesDoublingSubfigures(3)},
        {gltf, gltfDoublingNodes(3)},
        {gltf, gltfNestedArrays(20)},
        {answer, soundAnswer()},
        {answer, qor::io::encodeResult({}, qor::io::ReadStop::memory)},
    };
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    int index = 0;
    for (const auto& [tag, bytes] : seeds) {
        QFile file(dir.filePath(QStringLiteral("seed%1").arg(index++)));
        const QByteArray tagged = QByteArray(1, tag) + bytes;
        if (!file.open(QIODevice::WriteOnly) || file.write(tagged) != tagged.size()) {
            std::fprintf(stderr, "%s nicht geschrieben\n", qPrintable(file.fileName()));
            return 1;
        }
    }
    return 0;
}
