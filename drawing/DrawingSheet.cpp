#include "drawing/DrawingSheet.h"

namespace qor::app {

QString viewKindName(int kind)
{
    switch (ViewKind(kind)) {
    case ViewKind::Front: return QStringLiteral("Vorderansicht");
    case ViewKind::Top: return QStringLiteral("Draufsicht");
    case ViewKind::Bottom: return QStringLiteral("Untersicht");
    case ViewKind::Left: return QStringLiteral("Seitenansicht von links");
    case ViewKind::Right: return QStringLiteral("Seitenansicht von rechts");
    case ViewKind::Back: return QStringLiteral("Rückansicht");
    case ViewKind::Isometric: return QStringLiteral("Isometrie");
    }
    return {};
}

gp_Ax2 viewAxes(int kind)
{
    const gp_Pnt origin(0, 0, 0);
    switch (ViewKind(kind)) {
    case ViewKind::Front: return gp_Ax2(origin, gp_Dir(0, -1, 0), gp_Dir(1, 0, 0));
    case ViewKind::Top: break;
    case ViewKind::Bottom: return gp_Ax2(origin, gp_Dir(0, 0, -1), gp_Dir(1, 0, 0));
    case ViewKind::Left: return gp_Ax2(origin, gp_Dir(-1, 0, 0), gp_Dir(0, -1, 0));
    case ViewKind::Right: return gp_Ax2(origin, gp_Dir(1, 0, 0), gp_Dir(0, 1, 0));
    case ViewKind::Back: return gp_Ax2(origin, gp_Dir(0, 1, 0), gp_Dir(-1, 0, 0));
    case ViewKind::Isometric: return gp_Ax2(origin, gp_Dir(1, -1, 1), gp_Dir(1, 1, 0));
    }
    return gp_Ax2(origin, gp_Dir(0, 0, 1), gp_Dir(1, 0, 0));
}

QSizeF paperSize(const QString& format)
{
    if (format == QLatin1String("A4"))
        return {297, 210};
    if (format == QLatin1String("A2"))
        return {594, 420};
    if (format == QLatin1String("A1"))
        return {841, 594};
    if (format == QLatin1String("A0"))
        return {1189, 841};
    return {420, 297};
}

double autoScale(double w, double h, double roomW, double roomH)
{
    static const double scales[]
        = {50, 20, 10, 5, 2, 1, 0.5, 0.2, 0.1, 0.05, 0.02, 0.01, 0.005, 0.002};
    for (double s : scales) {
        if (roomW >= w * s && roomH >= h * s)
            return s;
    }
    return 0.001;
}

QString scaleText(double scale)
{
    if (scale >= 1.0)
        return QStringLiteral("%1:1").arg(QString::number(scale, 'g', 4));
    return QStringLiteral("1:%1").arg(QString::number(1.0 / scale, 'g', 4));
}

} // namespace qor::app
