#pragma once

#include "tests/common/ChildGuard.h"

#include <QProcess>
#include <QString>
#include <QStringList>

namespace qor::test {

// What ezdxf, an independent reader, makes of a DXF file.
struct DxfAudit {
    bool ran = false;
    int errors = -1;
    QStringList layers; // in table order, with the layers ezdxf adds at the end
    QString report; // the auditor's messages, for failure output
};

inline DxfAudit auditDxf(const QString& path)
{
    static const QString script
        = QStringLiteral("import sys, ezdxf\n"
                         "doc = ezdxf.readfile(sys.argv[1])\n"
                         "auditor = doc.audit()\n"
                         "print(len(auditor.errors))\n"
                         "print('|'.join(layer.dxf.name for layer in doc.layers))\n"
                         "for error in auditor.errors: print(error)\n");
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), script, path});
    DxfAudit audit;
    if (!python.waitForFinished(qor::test::childGuardMs) || python.exitCode() != 0) {
        audit.report = QString::fromUtf8(python.readAllStandardError());
        return audit;
    }
    const QStringList lines = QString::fromUtf8(python.readAllStandardOutput()).split(u'\n');
    audit.ran = lines.size() >= 2;
    audit.errors = lines.value(0).toInt();
    audit.layers = lines.value(1).split(u'|');
    audit.report = lines.mid(2).join(u'\n');
    return audit;
}

// The TEXT entities on one layer as ezdxf reads them, in file order, with their control
// codes resolved ("%%c" becomes "Ø"); a single entry "ezdxf failed: …" when it could not.
inline QStringList dxfTexts(const QString& path, const QString& layer)
{
    static const QString script
        = QStringLiteral("import sys, ezdxf\n"
                         "doc = ezdxf.readfile(sys.argv[1])\n"
                         "for e in doc.modelspace().query('TEXT'):\n"
                         "    if e.dxf.layer == sys.argv[2]: print(e.plain_text())\n");
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), script, path, layer});
    if (!python.waitForFinished(qor::test::childGuardMs) || python.exitCode() != 0)
        return {QStringLiteral("ezdxf failed: ")
                + QString::fromUtf8(python.readAllStandardError())};
    return QString::fromUtf8(python.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
}

} // namespace qor::test
