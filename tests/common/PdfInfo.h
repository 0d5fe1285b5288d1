#pragma once

#include "tests/common/ChildGuard.h"

#include <QProcess>
#include <QRegularExpression>
#include <QString>

#include <string>

namespace qor::test {

// "Page size:" of pdfinfo in points. The PDF writer keeps page sizes in whole points, so
// A3 (1190.55 × 841.89 pt) comes out as 1191 × 842.
inline std::string pdfPageSize(const QString& path)
{
    QProcess pdfinfo;
    pdfinfo.start(QStringLiteral("pdfinfo"), {path});
    if (!pdfinfo.waitForFinished(qor::test::childGuardMs))
        return "pdfinfo failed";
    const auto match = QRegularExpression(QStringLiteral("Page size:\\s*([^\\n]*) pts"))
                           .match(QString::fromUtf8(pdfinfo.readAllStandardOutput()));
    return match.captured(1).toStdString();
}

} // namespace qor::test
