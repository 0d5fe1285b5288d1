#include "model/Document.h"

#include "expr/Expression.h"

#include <cmath>
#include <limits>
#include <numbers>
#include <set>

namespace qor::model {

namespace {

// What a name stands for in expressions: the first user parameter of that
// name, else the first sketch dimension of that name. A parameter therefore
// hides a dimension of the same name.
struct NameTarget {
    const Parameter* parameter = nullptr;
    const qor::sketch::Constraint* dimension = nullptr;
};

NameTarget lookUpName(const Document& doc, const std::string& name)
{
    const QString qname = QString::fromStdString(name);
    for (const Parameter& p : doc.parameters) {
        if (p.name == qname)
            return {&p, nullptr};
    }
    // Dimensions of suppressed and rolled-back sketches count too.
    for (const auto& f : doc.features) {
        if (!f->sketch)
            continue;
        for (const qor::sketch::Constraint& c : f->sketch->constraints) {
            if (c.name == name)
                return {nullptr, &c};
        }
    }
    return {};
}

// Angles are stored in radians but used in degrees, without sign.
double dimensionValue(const qor::sketch::Constraint& c)
{
    if (c.type == qor::sketch::ConstraintType::Angle)
        return std::abs(c.value) * 180.0 / std::numbers::pi;
    return c.value;
}

// NaN never compares as different, so test it apart: a result that turns NaN
// (or stops being NaN) is a change like any other.
bool differs(double a, double b)
{
    if (std::isnan(a) || std::isnan(b))
        return std::isnan(a) != std::isnan(b);
    return std::abs(a - b) > 1e-12;
}

// Every name the expression refers to, for the cycle search. Names read as NaN:
// no comparison holds for it, so no check on a value (a division by zero, the
// root of a negative number) stops the reading before the last name, as it
// would with any fixed number.
std::vector<std::string> dependencyNames(const std::string& expression)
{
    std::vector<std::string> names;
    const qor::NameResolver unknownValue = [](const std::string&) -> std::optional<double> {
        return std::numeric_limits<double>::quiet_NaN();
    };
    try {
        qor::ExprParser(expression, unknownValue, &names).readAll();
    } catch (const std::exception&) {
        // The names read before a syntax error are still dependencies.
    }
    return names;
}

} // namespace

EvalResult Document::tryEval(const QString& text, QString* error) const
{
    const NameResolver resolver = [this](const std::string& name) -> std::optional<double> {
        const NameTarget target = lookUpName(*this, name);
        if (target.parameter)
            return target.parameter->value;
        if (target.dimension)
            return dimensionValue(*target.dimension);
        return std::nullopt;
    };
    std::string message;
    const EvalResult result
        = tryEvaluateExpression(text.toUtf8().toStdString(), resolver, error ? &message : nullptr);
    if (!result.ok && error)
        *error = QString::fromStdString(message);
    return result;
}

bool Document::dependsOnItself(const QString& expression, const QString& ownName) const
{
    const std::string own = ownName.toUtf8().toStdString();
    std::vector<std::string> stack = dependencyNames(expression.toUtf8().toStdString());
    std::set<std::string> visited;
    while (!stack.empty()) {
        const std::string name = std::move(stack.back());
        stack.pop_back();
        if (name == own)
            return true;
        if (!visited.insert(name).second)
            continue;
        // Follow only what the name resolves to: a dimension hidden by a
        // parameter of the same name is no dependency.
        const NameTarget target = lookUpName(*this, name);
        std::vector<std::string> next;
        if (target.parameter)
            next = dependencyNames(target.parameter->expr.toUtf8().toStdString());
        else if (target.dimension && !target.dimension->expression.empty())
            next = dependencyNames(target.dimension->expression);
        stack.insert(stack.end(), next.begin(), next.end());
    }
    return false;
}

void Document::evaluateParameters()
{
    for (Parameter& p : parameters)
        p.error.clear();

    // Values carry over from the last evaluation, so a parameter that uses a
    // later one settles in a later pass; a system that never settles stops
    // after count + 1 passes.
    // Cycles depend on the texts and names alone, which no pass changes; searching
    // them once keeps a long chain from costing a search per parameter and pass.
    std::vector<bool> circular;
    circular.reserve(parameters.size());
    for (const Parameter& p : parameters)
        circular.push_back(dependsOnItself(p.expr, p.name));

    const std::size_t maxPass = parameters.size();
    for (std::size_t pass = 0; pass <= maxPass; ++pass) {
        bool changed = false;
        for (std::size_t i = 0; i < parameters.size(); ++i) {
            Parameter& p = parameters[i];
            if (circular[i]) {
                p.error = QStringLiteral("Zirkulärer Bezug");
                continue;
            }
            QString message;
            const EvalResult result = tryEval(p.expr, &message);
            if (!result.ok) {
                p.error = message;
                continue;
            }
            p.error.clear();
            if (differs(result.value, p.value)) {
                p.value = result.value;
                changed = true;
            }
        }
        if (!changed)
            break;
    }
}

} // namespace qor::model
