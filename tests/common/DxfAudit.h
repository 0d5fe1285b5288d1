#pragma once

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
    if (!python.waitForFinished(60000) || python.exitCode() != 0) {
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

} // namespace qor::test
