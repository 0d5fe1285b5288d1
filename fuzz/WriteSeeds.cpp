// Writes the binary data of every sample shape, in each format version, into the
// folder given as the first argument: the fuzzer's starting corpus. A second folder
// gets the same shapes as text BREP, for the text check.

#include "fuzz/SeedFile.h"
#include "tests/fixtures/ShapeTextFixtures.h"

#include <BRepTools.hxx>

#include <QDir>

#include <cstdio>
#include <sstream>

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "Aufruf: %s ORDNER [TEXT-ORDNER]\n", argv[0]);
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    for (const qor::fixtures::NamedShape& sample : qor::fixtures::kernelShapes()) {
        for (int version = 1; version <= 4; ++version) {
            if (!writeFile(dir, sample.name + QStringLiteral("-v%1").arg(version),
                           qor::fixtures::binaryShape(sample.shape, version)))
                return 1;
        }
        if (argc == 3) {
            std::ostringstream text;
            BRepTools::Write(sample.shape, text);
            if (!writeFile(QDir(QString::fromLocal8Bit(argv[2])), sample.name + ".brep",
                           QByteArray::fromStdString(text.str())))
                return 1;
        }
    }
    return 0;
}
