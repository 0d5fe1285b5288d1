#include "view/sketch/SketchPrompts.h"

#include "expr/Format.h"
#include "sketch/Dof.h"

#include <algorithm>
#include <initializer_list>

namespace qor::app {

namespace {

// The prompt of a tool by the number of clicks so far: the last entry serves every later click.
QString byClicks(std::size_t clicks, std::initializer_list<const char*> texts)
{
    const std::size_t index = std::min(clicks, texts.size() - 1);
    return QString::fromUtf8(*(texts.begin() + index));
}

} // namespace

QString promptText(const PromptContext& context)
{
    const std::size_t n = context.clicks;
    switch (context.tool) {
    case 0:
        return QStringLiteral(
            "Klicken zum Auswählen · Ziehen verschiebt · Doppelklick auf Maß bearbeitet");
    case 1:
        return byClicks(n,
                        {"Startpunkt klicken", "Nächsten Punkt klicken · Doppelklick/Esc beendet"});
    case 2: return byClicks(n, {"Erste Ecke klicken", "Gegenüberliegende Ecke klicken"});
    case 3: return byClicks(n, {"Mittelpunkt klicken", "Ecke klicken"});
    case 4: return byClicks(n, {"Mittelpunkt klicken", "Radius klicken"});
    case 5: return QStringLiteral("Punkt %1 von 3 auf dem Kreis klicken").arg(n + 1);
    case 6:
        return byClicks(n,
                        {"Startpunkt klicken", "Endpunkt klicken", "Punkt auf dem Bogen klicken"});
    case 7: return byClicks(n, {"Mittelpunkt klicken", "Startpunkt klicken", "Endpunkt klicken"});
    case 8: return QStringLiteral("Punkt klicken");
    case 9:
        if (n == 0)
            return QStringLiteral("Mittelpunkt klicken (%1 Ecken)").arg(context.polygonSides);
        return QStringLiteral("Ecke klicken");
    case 10: return byClicks(n, {"Erster Mittelpunkt", "Zweiter Mittelpunkt", "Breite klicken"});
    case 11: return QStringLiteral("Kurvenstück anklicken, das entfernt werden soll");
    case 12:
        return QStringLiteral("Ecke zweier Linien anklicken (Radius %1 mm)")
            .arg(QString::fromStdString(formatNumber(4, context.filletRadius)));
    case 13:
        return context.hasPicks ? QStringLiteral("Maß platzieren (oder weiteres Element wählen)")
                                : QStringLiteral("Element(e) zum Bemaßen wählen");
    case 14:
        return QStringLiteral("%1: Elemente wählen")
            .arg(QString::fromUtf8(sketch::constraintTypeName(context.constraintType)));
    case 15:
        return QStringLiteral(
            "Kanten oder Flächen des Modells wählen, um sie in die Skizze zu übernehmen");
    default: return {};
    }
}

QString statusText(const sketch::Sketch& sketch, std::size_t conflictingCount, std::uint32_t dof)
{
    if (conflictingCount > 0)
        return QStringLiteral("Widersprüchlich – %1 Bedingung(en) nicht erfüllbar")
            .arg(germanCount(conflictingCount));
    if (sketch.entities.empty())
        return QStringLiteral("Leer – Werkzeug wählen und zeichnen");
    if (dof == 0)
        return QStringLiteral("Vollständig bestimmt");
    return QStringLiteral("%1 Freiheitsgrad%2 offen")
        .arg(germanCount(dof))
        .arg(dof == 1 ? QString() : QStringLiteral("e"));
}

bool addConstraintChecked(sketch::Sketch& sketch, sketch::ConstraintType type, int a, int b, int c,
                          double value, QString& refusal)
{
    sketch::Constraint candidate;
    candidate.type = type;
    candidate.a = a;
    candidate.b = b;
    candidate.c = c;
    candidate.value = value;
    if (sketch::isRedundant(sketch, candidate)) {
        refusal = QStringLiteral("„%1“ würde die Skizze überbestimmen")
                      .arg(QString::fromUtf8(sketch::constraintTypeName(type)));
        return false;
    }
    sketch.addConstraint(type, a, b, c, value);
    return true;
}

} // namespace qor::app
