#include "model/Document.h"

#include <gtest/gtest.h>

#include <cmath>

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
