#include "features/ThreadTable.h"

#include "expr/Format.h"

namespace qor::model {

const std::vector<ThreadSpec>& threadTable()
{
    static const std::vector<ThreadSpec> table = {
        {"M1.6", 1.6, 0.35, 1.25, 1.8, 3.3, 1.8, 3.7},
        {"M2", 2, 0.4, 1.6, 2.4, 4.4, 2.2, 4.4},
        {"M2.5", 2.5, 0.45, 2.05, 2.9, 5.5, 2.7, 5.5},
        {"M3", 3, 0.5, 2.5, 3.4, 6.5, 3.4, 6.3},
        {"M4", 4, 0.7, 3.3, 4.5, 8, 4.4, 8.4},
        {"M5", 5, 0.8, 4.2, 5.5, 10, 5.4, 10.4},
        {"M6", 6, 1, 5, 6.6, 11, 6.4, 12.6},
        {"M8", 8, 1.25, 6.8, 9, 15, 8.6, 17.3},
        {"M10", 10, 1.5, 8.5, 11, 18, 10.6, 20},
        {"M12", 12, 1.75, 10.2, 13.5, 20, 12.6, 24},
        {"M14", 14, 2, 12, 15.5, 24, 14.6, 28},
        {"M16", 16, 2, 14, 17.5, 26, 16.6, 31},
        {"M18", 18, 2.5, 15.5, 20, 30, 18.6, 34},
        {"M20", 20, 2.5, 17.5, 22, 33, 20.6, 38},
        {"M22", 22, 2.5, 19.5, 24, 36, 22.6, 42},
        {"M24", 24, 3, 21, 26, 40, 24.6, 46},
        {"M27", 27, 3, 24, 30, 46, 27.6, 52},
        {"M30", 30, 3.5, 26.5, 33, 50, 30.6, 58},
        {"M36", 36, 4, 32, 39, 60, 36.6, 70},
        {"M8x1", 8, 1, 7, 9, 15, 8.6, 17.3},
        {"M10x1", 10, 1, 9, 11, 18, 10.6, 20},
        {"M10x1.25", 10, 1.25, 8.8, 11, 18, 10.6, 20},
        {"M12x1.25", 12, 1.25, 10.8, 13.5, 20, 12.6, 24},
        {"M12x1.5", 12, 1.5, 10.5, 13.5, 20, 12.6, 24},
        {"M14x1.5", 14, 1.5, 12.5, 15.5, 24, 14.6, 28},
        {"M16x1.5", 16, 1.5, 14.5, 17.5, 26, 16.6, 31},
        {"M20x1.5", 20, 1.5, 18.5, 22, 33, 20.6, 38},
        {"M24x2", 24, 2, 22, 26, 40, 24.6, 46},
    };
    return table;
}

const ThreadSpec* findThread(const QString& name)
{
    for (const ThreadSpec& row : threadTable()) {
        if (name == QLatin1String(row.name))
            return &row;
    }
    return nullptr;
}

QString threadDisplayName(const ThreadSpec& row)
{
    return QString::fromLatin1(row.name).replace(u'.', u',');
}

QString threadDesignation(const ThreadSpec& row, bool through, bool leftHand, double length)
{
    QString text = threadDisplayName(row);
    if (leftHand)
        text += QStringLiteral("-LH");
    if (through)
        return text + QStringLiteral(" – durchgehend");
    const QString depth = QString::fromStdString(formatNumber(2, length)).replace(u'.', u',');
    return text + QStringLiteral(" – ") + depth + QStringLiteral(" tief");
}

QStringList threadChoices(bool withNone, bool withAuto)
{
    QStringList choices;
    if (withNone)
        choices << QStringLiteral("none=Benutzerdefiniert");
    if (withAuto)
        choices << QStringLiteral("auto=Automatisch (aus Durchmesser)");
    for (const ThreadSpec& row : threadTable())
        choices << QStringLiteral("%1=%2").arg(QLatin1String(row.name), threadDisplayName(row));
    return choices;
}

} // namespace qor::model
