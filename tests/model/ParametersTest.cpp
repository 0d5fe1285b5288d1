#include "model/Document.h"
#include "tests/common/Seeds.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <set>

using namespace qor::model;
using qor::sketch::ConstraintType;

namespace {

const QString cycle = QStringLiteral("Zirkulärer Bezug");

void addParameter(Document& doc, const char* name, const char* expr)
{
    Parameter p;
    p.name = QString::fromUtf8(name);
    p.expr = QString::fromUtf8(expr);
    doc.parameters.push_back(p);
}

const Parameter& param(const Document& doc, const char* name)
{
    for (const Parameter& p : doc.parameters) {
        if (p.name == QString::fromUtf8(name))
            return p;
    }
    throw std::runtime_error(std::string("no parameter ") + name);
}

// A sketch feature holding one named dimension with the given stored value and
// driving expression.
void addDimension(Document& doc, const char* name, ConstraintType type, double value,
                  const char* expression = "")
{
    Feature* sketch = doc.addSketch(QJsonObject{{"kind", "origin"}, {"id", -1}});
    qor::sketch::Constraint c;
    c.id = 1;
    c.type = type;
    c.value = value;
    c.name = name;
    c.expression = expression;
    sketch->sketch->constraints.push_back(c);
}

} // namespace

TEST(ParameterEvaluation, OrderCyclesAndErrors)
{
    struct Outcome {
        const char* name;
        double value;
        const char* error;
    };
    struct Case {
        const char* name;
        std::vector<std::pair<const char*, const char*>> parameters;
        std::vector<Outcome> outcomes;
    };
    const Case cases[] = {
        {"later parameters settle in later passes", {{"a", "b*2"}, {"b", "3"}}, {{"a", 6, ""}}},
        {"a chain written backwards",
         {{"p1", "p2 + 1"}, {"p2", "p3 + 1"}, {"p3", "p4 + 1"}, {"p4", "10 cm"}},
         {{"p1", 103, ""}}},
        {"the same name twice is no cycle",
         {{"w", "3"}, {"area", "w * w + w"}},
         {{"area", 12, ""}}},
        {"self reference", {{"a", "a + 1"}}, {{"a", 0, "Zirkulärer Bezug"}}},
        {"every member of a cycle",
         {{"a", "b"}, {"b", "c * 2"}, {"c", "a"}, {"free", "5"}},
         {{"a", 0, "Zirkulärer Bezug"},
          {"b", 0, "Zirkulärer Bezug"},
          {"c", 0, "Zirkulärer Bezug"},
          {"free", 5, ""}}},
        // The self-reference stands behind a division and a root that fail for
        // some values of b; the search must see it whatever b is.
        {"a cycle behind a value check",
         {{"a", "1/(b - 1) + a"},
          {"b", "3"},
          {"c", "sqrt(b - 5) + c"},
          {"e", "1/(b - b) + sqrt(-b) + b"}},
         {{"a", 0, "Zirkulärer Bezug"},
          {"b", 3, ""},
          {"c", 0, "Zirkulärer Bezug"},
          {"e", 0, "Division durch null"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Document doc;
        for (const auto& [name, expr] : c.parameters)
            addParameter(doc, name, expr);
        // Evaluating again leaves every value where it was instead of growing it.
        for (int round = 0; round < 2; ++round) {
            doc.evaluateParameters();
            for (const Outcome& o : c.outcomes) {
                EXPECT_EQ(param(doc, o.name).error, QString::fromUtf8(o.error)) << o.name;
                EXPECT_DOUBLE_EQ(param(doc, o.name).value, o.value) << o.name;
            }
        }
    }

    // A name behind failing operations still leads on to its own expression.
    Document doc;
    addParameter(doc, "e", "1/(b - b) + sqrt(-b) + b");
    EXPECT_TRUE(
        doc.dependsOnItself(QStringLiteral("sqrt(x - 1) / (x - x) + e"), QStringLiteral("b")));
}

TEST(ParameterEvaluation, CycleThroughSketchDimension)
{
    Document doc;
    addParameter(doc, "Breite", "d1 + 5");
    addDimension(doc, "d1", ConstraintType::Distance, 40.0, "Breite / 2");
    doc.evaluateParameters();
    EXPECT_EQ(param(doc, "Breite").error, cycle);

    // Without the dimension's expression the stored value is read.
    doc.features[0]->sketch->constraints[0].expression.clear();
    doc.evaluateParameters();
    EXPECT_TRUE(param(doc, "Breite").error.isEmpty());
    EXPECT_DOUBLE_EQ(param(doc, "Breite").value, 45.0);

    // A parameter "d1" hides the dimension, so the dimension's use of Tiefe is no cycle.
    Document hidden;
    addParameter(hidden, "d1", "5");
    addParameter(hidden, "Tiefe", "d1 * 2");
    addDimension(hidden, "d1", ConstraintType::Distance, 3.0, "Tiefe");
    hidden.evaluateParameters();
    EXPECT_TRUE(param(hidden, "Tiefe").error.isEmpty());
    EXPECT_DOUBLE_EQ(param(hidden, "Tiefe").value, 10.0);
}

TEST(ParameterEvaluation, NameResolution)
{
    Document doc;
    addDimension(doc, "d1", ConstraintType::Distance, 12.5);
    addDimension(doc, "d2", ConstraintType::Angle, -0.5);
    addParameter(doc, "Breite", "7");
    doc.evaluateParameters();
    EXPECT_DOUBLE_EQ(doc.tryEval(QStringLiteral("d1 * 2")).value, 25.0);
    EXPECT_NEAR(doc.tryEval(QStringLiteral("d2")).value, 28.64788975654116, 1e-12);
    EXPECT_DOUBLE_EQ(doc.tryEval(QStringLiteral("Breite + 1 cm")).value, 17.0);

    QString error;
    EXPECT_FALSE(doc.tryEval(QStringLiteral("breite"), &error).ok);
    EXPECT_EQ(error, "Unbekannter Name „breite“");
    EXPECT_FALSE(doc.tryEval(QStringLiteral("1/0")).ok);

    // A parameter hides a dimension of the same name.
    addParameter(doc, "d1", "100");
    doc.evaluateParameters();
    EXPECT_DOUBLE_EQ(doc.tryEval(QStringLiteral("d1")).value, 100.0);

    // Dimensions of suppressed sketches still count.
    doc.features[1]->suppressed = true;
    EXPECT_TRUE(doc.tryEval(QStringLiteral("d2")).ok);
}

TEST(ParameterEvaluation, FailuresKeepTheLastValueButNaNReplacesIt)
{
    Document doc;
    addParameter(doc, "a", "4");
    doc.evaluateParameters();
    ASSERT_DOUBLE_EQ(param(doc, "a").value, 4.0);

    doc.parameters[0].expr = QStringLiteral("4 +");
    doc.evaluateParameters();
    EXPECT_EQ(param(doc, "a").error, "Ausdruck unvollständig");
    EXPECT_DOUBLE_EQ(param(doc, "a").value, 4.0);

    doc.parameters[0].expr = QStringLiteral("x");
    addParameter(doc, "b", "a * 3");
    doc.evaluateParameters();
    EXPECT_EQ(param(doc, "a").error, "Unbekannter Name „x“");
    EXPECT_DOUBLE_EQ(param(doc, "b").value, 12.0);

    // Fixing the expression clears the error again, and values carry over.
    doc.parameters[0].expr = QStringLiteral("1");
    doc.evaluateParameters();
    EXPECT_TRUE(param(doc, "a").error.isEmpty());
    EXPECT_DOUBLE_EQ(param(doc, "b").value, 3.0);

    // NaN is a result, not a failure: it replaces the old value.
    doc.parameters[0].expr = QStringLiteral("5 % 0");
    doc.evaluateParameters();
    EXPECT_TRUE(param(doc, "a").error.isEmpty());
    EXPECT_TRUE(std::isnan(param(doc, "a").value));
}

namespace {

// The evaluation as a plain reading of its rules: every name looked up by
// scanning, every parameter's cycle searched on its own. The document's
// evaluation must give the same values and texts.
struct PlainEvaluation {
    const Document& doc; // for its sketch dimensions
    std::vector<Parameter>& parameters;

    struct Target {
        const Parameter* parameter = nullptr;
        const qor::sketch::Constraint* dimension = nullptr;
    };

    Target lookUp(const std::string& name) const
    {
        for (const Parameter& p : parameters) {
            if (p.name == QString::fromStdString(name))
                return {&p, nullptr};
        }
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

    static std::vector<std::string> names(const std::string& expression)
    {
        std::vector<std::string> found;
        const qor::NameResolver nan
            = [](const std::string&) -> std::optional<double> { return std::nan(""); };
        try {
            qor::ExprParser(expression, nan, &found).readAll();
        } catch (const std::exception&) {
        }
        return found;
    }

    bool circular(const Parameter& p) const
    {
        const std::string own = p.name.toUtf8().toStdString();
        std::vector<std::string> stack = names(p.expr.toUtf8().toStdString());
        std::set<std::string> visited;
        while (!stack.empty()) {
            const std::string name = stack.back();
            stack.pop_back();
            if (name == own)
                return true;
            if (!visited.insert(name).second)
                continue;
            const Target t = lookUp(name);
            std::vector<std::string> next;
            if (t.parameter)
                next = names(t.parameter->expr.toUtf8().toStdString());
            else if (t.dimension && !t.dimension->expression.empty())
                next = names(t.dimension->expression);
            stack.insert(stack.end(), next.begin(), next.end());
        }
        return false;
    }

    void run() const
    {
        const qor::NameResolver resolver
            = [this](const std::string& name) -> std::optional<double> {
            const Target t = lookUp(name);
            if (t.parameter)
                return t.parameter->value;
            if (t.dimension)
                return t.dimension->type == ConstraintType::Angle
                           ? std::abs(t.dimension->value) * 180.0 / std::numbers::pi
                           : t.dimension->value;
            return std::nullopt;
        };
        std::vector<bool> cyclic;
        for (Parameter& p : parameters) {
            p.error.clear();
            cyclic.push_back(circular(p));
        }
        for (std::size_t pass = 0; pass <= parameters.size(); ++pass) {
            bool changed = false;
            for (std::size_t i = 0; i < parameters.size(); ++i) {
                Parameter& p = parameters[i];
                if (cyclic[i]) {
                    p.error = cycle;
                    continue;
                }
                std::string message;
                const qor::EvalResult r
                    = qor::tryEvaluateExpression(p.expr.toUtf8().toStdString(), resolver, &message);
                if (!r.ok) {
                    p.error = QString::fromStdString(message);
                    continue;
                }
                p.error.clear();
                const bool differs = std::isnan(r.value) || std::isnan(p.value)
                                         ? std::isnan(r.value) != std::isnan(p.value)
                                         : std::abs(r.value - p.value) > 1e-12;
                if (differs) {
                    p.value = r.value;
                    changed = true;
                }
            }
            if (!changed)
                break;
        }
    }
};

// A random expression over a few names, some of which are dimensions, some
// unknown; with failing operations and broken syntax now and then.
QString randomExpression(std::mt19937& random, const std::vector<const char*>& names)
{
    const char* pieces[] = {"1/(%1 - %1)", "sqrt(%1 - 5)", "%1 * 2",  "%1 + 1 mm", "2 cm - %1",
                            "%1 / 3",      "(%1 +",        "sin(%1)", "%1 ^ 2",    "%1"};
    std::uniform_int_distribution<std::size_t> name(0, names.size() - 1);
    std::uniform_int_distribution<std::size_t> piece(0, std::size(pieces) - 1);
    const int terms = std::uniform_int_distribution<int>(0, 3)(random);
    QString text = QString::number(std::uniform_int_distribution<int>(1, 9)(random));
    for (int k = 0; k < terms; ++k)
        text += QStringLiteral(" + ")
                + QString::fromUtf8(pieces[piece(random)])
                      .arg(QString::fromUtf8(names[name(random)]));
    return text;
}

void compareWithPlain(Document& doc)
{
    std::vector<Parameter> expected = doc.parameters;
    PlainEvaluation{doc, expected}.run();
    doc.evaluateParameters();
    ASSERT_EQ(doc.parameters.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const Parameter& got = doc.parameters[i];
        SCOPED_TRACE(got.name.toStdString() + " = " + got.expr.toStdString());
        EXPECT_EQ(got.error, expected[i].error);
        if (std::isnan(expected[i].value))
            EXPECT_TRUE(std::isnan(got.value));
        else
            EXPECT_EQ(got.value, expected[i].value);
    }
}

} // namespace

// Names repeat, hide dimensions, form cycles through parameters and dimension
// expressions, and lead nowhere; values carry over between evaluations.
TEST(ParameterEvaluation, SameResultsAsThePlainRulesOnRandomSets)
{
    const std::vector<const char*> names = {"a", "b", "c", "e", "d1", "d2", "d3", "Länge", "x"};
    const std::vector<const char*> owners = {"a", "b", "c", "e", "d1", "Länge", "a"};
    std::mt19937 random(qor::test::seed(20261207));
    for (int round = 0; round < 400; ++round) {
        SCOPED_TRACE(round);
        Document doc;
        for (const char* dimension : {"d1", "d2", "d3"}) {
            const bool driven = std::uniform_int_distribution<int>(0, 1)(random) == 1;
            addDimension(doc, dimension,
                         dimension[1] == '2' ? ConstraintType::Angle : ConstraintType::Distance,
                         0.25 * std::uniform_int_distribution<int>(-8, 8)(random),
                         driven ? randomExpression(random, names).toUtf8().constData() : "");
        }
        const int count = std::uniform_int_distribution<int>(1, 9)(random);
        for (int k = 0; k < count; ++k) {
            const char* owner
                = owners[std::uniform_int_distribution<std::size_t>(0, owners.size() - 1)(random)];
            addParameter(doc, owner, randomExpression(random, names).toUtf8().constData());
        }
        compareWithPlain(doc);
        // Again from the values just found, after one expression changed.
        doc.parameters.front().expr = randomExpression(random, names);
        compareWithPlain(doc);
    }
}

// Long chains and cycles: every value and text as the rules give them.
TEST(ParameterEvaluation, LongChainsAndCycles)
{
    Document chain;
    addParameter(chain, "p0", "1 mm");
    for (int i = 1; i < 10000; ++i)
        addParameter(chain, QStringLiteral("p%1").arg(i).toUtf8().constData(),
                     QStringLiteral("p%1 + 0.001 mm").arg(i - 1).toUtf8().constData());
    chain.evaluateParameters();
    for (const int i : {1, 5000, 9999}) {
        EXPECT_TRUE(chain.parameters[std::size_t(i)].error.isEmpty());
        EXPECT_NEAR(chain.parameters[std::size_t(i)].value, 1.0 + 0.001 * i, 1e-9);
    }

    // One cycle through all of them, and one through a dimension at its end.
    for (const bool viaDimension : {false, true}) {
        Document ring;
        const int n = 100000;
        for (int i = 0; i < n; ++i)
            addParameter(ring, QStringLiteral("p%1").arg(i).toUtf8().constData(),
                         (viaDimension && i == n - 1
                              ? QStringLiteral("d9 + 1 mm")
                              : QStringLiteral("p%1 + 1 mm").arg((i + 1) % n))
                             .toUtf8()
                             .constData());
        addParameter(ring, "frei", "p5 * 0 + 2");
        addDimension(ring, "d9", ConstraintType::Distance, 4.0, "p0 / 2");
        ring.evaluateParameters();
        for (const int i : {0, 1, n / 2, n - 1})
            EXPECT_EQ(ring.parameters[std::size_t(i)].error, cycle) << i;
        EXPECT_TRUE(ring.parameters.back().error.isEmpty());
        EXPECT_DOUBLE_EQ(ring.parameters.back().value, 2.0);
        EXPECT_TRUE(ring.dependsOnItself(QStringLiteral("p7"), QStringLiteral("p3")));
        EXPECT_FALSE(ring.dependsOnItself(QStringLiteral("p7"), QStringLiteral("frei")));
    }
}
