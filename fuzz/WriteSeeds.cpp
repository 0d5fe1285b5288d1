// Writes the binary data of every sample shape, in each format version, into the
// folder given as the argument: the fuzzer's starting corpus.

#include "tests/fixtures/ShapeTextFixtures.h"

#include <QDir>
#include <QFile>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "Aufruf: %s ORDNER\n", argv[0]);
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    for (const qor::fixtures::NamedShape& sample : qor::fixtures::kernelShapes()) {
        for (int version = 1; version <= 4; ++version) {
            QFile file(dir.filePath(sample.name + QStringLiteral("-v%1").arg(version)));
            if (!file.open(QIODevice::WriteOnly))
                return 1;
            file.write(qor::fixtures::binaryShape(sample.shape, version));
        }
    }
    return 0;
}
