#include "model/Document.h"

#include "expr/Expression.h"

#include <QHash>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <set>
#include <unordered_map>

namespace qor::model {

namespace {

// What a name stands for in expressions: the first user parameter of that
// name, else the first sketch dimension of that name. A parameter therefore
// hides a dimension of the same name.
struct NameTarget {
    const Parameter* parameter = nullptr;
    const qor::sketch::Constraint* dimension = nullptr;
};

// One lookup by scanning, for a single evaluation: building the index below
// costs more than the scans of the few names one expression holds.
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

// The same lookup by hash, for evaluating every parameter: scanning the list
// for each name makes a long chain of parameters quadratic. Parameters are
// matched as texts and dimensions as bytes, exactly as the scan matches them.
class NameIndex {
public:
    explicit NameIndex(const Document& doc)
    {
        parameters_.reserve(qsizetype(doc.parameters.size()));
        for (const Parameter& p : doc.parameters) {
            if (!parameters_.contains(p.name))
                parameters_.insert(p.name, &p);
        }
        for (const auto& f : doc.features) {
            if (!f->sketch)
                continue;
            for (const qor::sketch::Constraint& c : f->sketch->constraints)
                dimensions_.try_emplace(c.name, &c);
        }
    }

    NameTarget find(const std::string& name) const
    {
        if (const auto p = parameters_.constFind(QString::fromStdString(name));
            p != parameters_.constEnd())
            return {p.value(), nullptr};
        if (const auto d = dimensions_.find(name); d != dimensions_.end())
            return {nullptr, d->second};
        return {};
    }

private:
    QHash<QString, const Parameter*> parameters_;
    std::unordered_map<std::string, const qor::sketch::Constraint*> dimensions_;
};

// Angles are stored in radians but used in degrees, without sign.
double dimensionValue(const qor::sketch::Constraint& c)
{
    if (c.type == qor::sketch::ConstraintType::Angle)
        return std::abs(c.value) * 180.0 / std::numbers::pi;
    return c.value;
}

std::optional<double> targetValue(const NameTarget& target)
{
    if (target.parameter)
        return target.parameter->value;
    if (target.dimension)
        return dimensionValue(*target.dimension);
    return std::nullopt;
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

// The graph the cycle search walks: one node per name, with edges to the names
// in the expression of what the name stands for. A dimension hidden by a
// parameter of the same name is no dependency, and a dimension typed as a plain
// value has none. Each expression is read once, when its name is first reached.
class NameGraph {
public:
    explicit NameGraph(const Document& doc)
        : index_(doc)
    {
    }

    const NameIndex& index() const { return index_; }

    int node(const std::string& name)
    {
        const auto [it, added] = ids_.try_emplace(name, int(names_.size()));
        if (added) {
            names_.push_back(name);
            next_.emplace_back();
            read_.push_back(false);
        }
        return it->second;
    }

    const std::vector<int>& next(int id)
    {
        if (!read_[std::size_t(id)]) {
            read_[std::size_t(id)] = true;
            std::vector<int> ids;
            for (const std::string& name : namesOf(index_.find(names_[std::size_t(id)])))
                ids.push_back(node(name));
            next_[std::size_t(id)] = std::move(ids);
        }
        return next_[std::size_t(id)];
    }

    std::size_t size() const { return names_.size(); }

    static std::vector<std::string> namesOf(const NameTarget& target)
    {
        if (target.parameter)
            return dependencyNames(target.parameter->expr.toUtf8().toStdString());
        if (target.dimension && !target.dimension->expression.empty())
            return dependencyNames(target.dimension->expression);
        return {};
    }

    // Whether a walk from any of the names reaches `own`.
    bool reaches(const std::vector<std::string>& start, const std::string& own)
    {
        const int target = node(own);
        std::vector<int> stack;
        for (const std::string& name : start)
            stack.push_back(node(name));
        std::vector<char> visited(size(), 0);
        while (!stack.empty()) {
            const int id = stack.back();
            stack.pop_back();
            if (id == target)
                return true;
            if (std::size_t(id) >= visited.size())
                visited.resize(size(), 0);
            if (visited[std::size_t(id)])
                continue;
            visited[std::size_t(id)] = 1;
            const std::vector<int>& following = next(id);
            stack.insert(stack.end(), following.begin(), following.end());
        }
        return false;
    }

    // Per node whether it lies on a cycle: in a strongly connected component
    // of more than one node, or with an edge to itself. One pass of Tarjan's
    // search, without recursion, from every given start.
    std::vector<char> onCycle(const std::vector<int>& starts)
    {
        constexpr int unvisited = -1;
        std::vector<int> order;
        std::vector<int> low;
        std::vector<char> onStack;
        std::vector<char> cyclic;
        const auto grow = [&] {
            order.resize(size(), unvisited);
            low.resize(size(), 0);
            onStack.resize(size(), 0);
            cyclic.resize(size(), 0);
        };
        grow();
        std::vector<int> component;
        struct Frame {
            int id;
            std::size_t edge;
        };
        std::vector<Frame> frames;
        int counter = 0;
        for (const int start : starts) {
            if (order[std::size_t(start)] != unvisited)
                continue;
            frames.push_back({start, 0});
            order[std::size_t(start)] = low[std::size_t(start)] = counter++;
            component.push_back(start);
            onStack[std::size_t(start)] = 1;
            while (!frames.empty()) {
                Frame& frame = frames.back();
                const int id = frame.id;
                const std::vector<int>& following = next(id);
                grow();
                if (frame.edge < following.size()) {
                    const int to = following[frame.edge++];
                    if (to == id)
                        cyclic[std::size_t(id)] = 1;
                    if (order[std::size_t(to)] == unvisited) {
                        order[std::size_t(to)] = low[std::size_t(to)] = counter++;
                        component.push_back(to);
                        onStack[std::size_t(to)] = 1;
                        frames.push_back({to, 0});
                    } else if (onStack[std::size_t(to)]) {
                        low[std::size_t(id)]
                            = std::min(low[std::size_t(id)], order[std::size_t(to)]);
                    }
                    continue;
                }
                frames.pop_back();
                if (!frames.empty()) {
                    const int parent = frames.back().id;
                    low[std::size_t(parent)]
                        = std::min(low[std::size_t(parent)], low[std::size_t(id)]);
                }
                if (low[std::size_t(id)] != order[std::size_t(id)])
                    continue;
                const auto first = std::find(component.rbegin(), component.rend(), id).base() - 1;
                const bool several = component.end() - first > 1;
                for (auto it = first; it != component.end(); ++it) {
                    onStack[std::size_t(*it)] = 0;
                    if (several)
                        cyclic[std::size_t(*it)] = 1;
                }
                component.erase(first, component.end());
            }
        }
        return cyclic;
    }

private:
    NameIndex index_;
    std::unordered_map<std::string, int> ids_;
    std::vector<std::string> names_;
    std::vector<std::vector<int>> next_;
    std::vector<bool> read_;
};

// Per parameter whether its expression leads back to its own name. A
// parameter that its name stands for reaches itself exactly when its name lies
// on a cycle of the graph; a later parameter of the same name is not what the
// name stands for, so its expression is followed on its own.
std::vector<bool> circularParameters(const Document& doc, NameGraph& graph)
{
    std::vector<int> own;
    own.reserve(doc.parameters.size());
    for (const Parameter& p : doc.parameters)
        own.push_back(graph.node(p.name.toUtf8().toStdString()));
    const std::vector<char> cyclic = graph.onCycle(own);
    std::vector<bool> circular;
    circular.reserve(doc.parameters.size());
    for (std::size_t i = 0; i < doc.parameters.size(); ++i) {
        const Parameter& p = doc.parameters[i];
        const std::string name = p.name.toUtf8().toStdString();
        if (graph.index().find(name).parameter == &p)
            circular.push_back(cyclic[std::size_t(own[i])] != 0);
        else
            circular.push_back(graph.reaches(dependencyNames(p.expr.toUtf8().toStdString()), name));
    }
    return circular;
}

EvalResult evaluate(const QString& text, const std::function<NameTarget(const std::string&)>& find,
                    QString* error)
{
    const NameResolver resolver
        = [&find](const std::string& name) { return targetValue(find(name)); };
    std::string message;
    const EvalResult result
        = tryEvaluateExpression(text.toUtf8().toStdString(), resolver, error ? &message : nullptr);
    if (!result.ok && error)
        *error = QString::fromStdString(message);
    return result;
}

} // namespace

EvalResult Document::tryEval(const QString& text, QString* error) const
{
    return evaluate(
        text, [this](const std::string& name) { return lookUpName(*this, name); }, error);
}

bool Document::dependsOnItself(const QString& expression, const QString& ownName) const
{
    NameGraph graph(*this);
    return graph.reaches(dependencyNames(expression.toUtf8().toStdString()),
                         ownName.toUtf8().toStdString());
}

void Document::evaluateParameters()
{
    for (Parameter& p : parameters)
        p.error.clear();
    if (parameters.empty())
        return;

    // Cycles depend on the texts and names alone, which no pass changes; one
    // search over the names finds them all.
    NameGraph graph(*this);
    const std::vector<bool> circular = circularParameters(*this, graph);
    const NameIndex& index = graph.index();
    const auto find = [&index](const std::string& name) { return index.find(name); };

    // Values carry over from the last evaluation, so a parameter that uses a
    // later one settles in a later pass; a system that never settles stops
    // after count + 1 passes.
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
            const EvalResult result = evaluate(p.expr, find, &message);
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
