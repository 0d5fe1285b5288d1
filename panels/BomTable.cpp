#include "panels/BomTable.h"

#include "io/FileReplace.h"
#include "panels/CsvField.h"

#include <QFileInfo>
#include <QStringList>

#include <algorithm>

#include <map>

namespace qor::app {

namespace {

QString displayName(const QString& componentName)
{
    const QString base = componentName.section(QLatin1Char(':'), 0, 0);
    for (const char* suffix : {".par", ".psm", ".asm"}) {
        if (base.endsWith(QLatin1String(suffix), Qt::CaseInsensitive))
            return QFileInfo(base).completeBaseName();
    }
    return base;
}

} // namespace

std::vector<BomRow> bomRows(const std::vector<qor::model::Component>& components)
{
    std::vector<BomRow> rows;
    std::map<QString, std::size_t> rowOfKey;
    for (const qor::model::Component& component : components) {
        const QString key = component.path.isEmpty() ? component.name : component.path;
        if (const auto it = rowOfKey.find(key); it != rowOfKey.end()) {
            ++rows[it->second].count;
            continue;
        }
        const QString file = component.path.isEmpty() ? QStringLiteral("(eingebettet)")
                                                      : QFileInfo(component.path).fileName();
        rowOfKey.emplace(key, rows.size());
        rows.push_back({displayName(component.name), file, 1});
    }
    return rows;
}

QString bomCsv(const std::vector<BomRow>& rows)
{
    QString csv = QStringLiteral("Pos.;Benennung;Datei;Menge\n");
    for (std::size_t i = 0; i < rows.size(); ++i) {
        // Joined, not formatted: a name may itself hold "%1".
        const QStringList fields{QString::number(i + 1), csvField(rows[i].name),
                                 csvField(rows[i].file), QString::number(rows[i].count)};
        csv += fields.join(QLatin1Char(';')) + QLatin1Char('\n');
    }
    return csv;
}

QString writeBomFile(const QString& path, const QString& csv)
{
    const QString failure
        = qor::io::replaceFile(path, "\xEF\xBB\xBF" + csv.toUtf8(),
                               QStringLiteral("Die Datei konnte nicht geschrieben werden"));
    return failure.isEmpty() ? failure : failure + u'.';
}

} // namespace qor::app
