#include "model/Document.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace qor::model;
using qor::sketch::ConstraintType;

namespace {

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
qor::sketch::Constraint& addDimension(Document& doc, const char* name, ConstraintType type,
                                      double value, const char* expression = "")
{
    Feature* sketch = doc.addSketch(QJsonObject{{"kind", "origin"}, {"id", -1}});
    qor::sketch::Constraint c;
    c.id = 1;
    c.type = type;
    c.value = value;
    c.name = name;
    c.expression = expression;
    sketch->sketch->constraints.push_back(c);
    return sketch->sketch->constraints.back();
}

} // namespace

TEST(ParameterEvaluation, LaterParametersSettleInLaterPasses)
{
    Document doc;
    addParameter(doc, "a", "b*2");
    addParameter(doc, "b", "3");
    doc.evaluateParameters();
    EXPECT_DOUBLE_EQ(param(doc, "a").value, 6.0);
    EXPECT_DOUBLE_EQ(param(doc, "b").value, 3.0);
    EXPECT_TRUE(param(doc, "a").error.isEmpty());
    EXPECT_TRUE(param(doc, "b").error.isEmpty());

    // A chain written backwards needs one pass per link.
    Document chain;
    addParameter(chain, "p1", "p2 + 1");
    addParameter(chain, "p2", "p3 + 1");
    addParameter(chain, "p3", "p4 + 1");
    addParameter(chain, "p4", "10 cm");
    chain.evaluateParameters();
    EXPECT_DOUBLE_EQ(param(chain, "p1").value, 103.0);

    // Values carry over: editing b and evaluating again updates a.
    doc.parameters[1].expr = QStringLiteral("4");
    doc.evaluateParameters();
    EXPECT_DOUBLE_EQ(param(doc, "a").value, 8.0);

    Document empty;
    empty.evaluateParameters();
    EXPECT_TRUE(empty.parameters.empty());
}

TEST(ParameterEvaluation, CyclesAreReportedOnEveryMember)
{
    Document self;
    addParameter(self, "a", "a + 1");
    self.evaluateParameters();
    EXPECT_EQ(param(self, "a").error, "Zirkulärer Bezug");
    EXPECT_EQ(param(self, "a").value, 0.0);

    Document pair;
    addParameter(pair, "a", "b");
    addParameter(pair, "b", "c * 2");
    addParameter(pair, "c", "a");
    addParameter(pair, "free", "5");
    pair.evaluateParameters();
    for (const char* name : {"a", "b", "c"})
        EXPECT_EQ(param(pair, name).error, "Zirkulärer Bezug") << name;
    EXPECT_TRUE(param(pair, "free").error.isEmpty());
    EXPECT_DOUBLE_EQ(param(pair, "free").value, 5.0);

    Document fine;
    addParameter(fine, "a", "b");
    addParameter(fine, "b", "2");
    fine.evaluateParameters();
    EXPECT_TRUE(param(fine, "a").error.isEmpty());
    EXPECT_DOUBLE_EQ(param(fine, "a").value, 2.0);

    // The same name twice in one expression is no cycle.
    Document twice;
    addParameter(twice, "w", "3");
    addParameter(twice, "area", "w * w + w");
    twice.evaluateParameters();
    EXPECT_TRUE(param(twice, "area").error.isEmpty());
    EXPECT_DOUBLE_EQ(param(twice, "area").value, 12.0);
}

TEST(ParameterEvaluation, CycleThroughSketchDimension)
{
    Document doc;
    addParameter(doc, "Breite", "d1 + 5");
    addDimension(doc, "d1", ConstraintType::Distance, 40.0, "Breite / 2");
    EXPECT_TRUE(doc.dependsOnItself(QStringLiteral("d1 + 5"), QStringLiteral("Breite")));
    doc.evaluateParameters();
    EXPECT_EQ(param(doc, "Breite").error, "Zirkulärer Bezug");

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

    qor::EvalResult r = doc.tryEval(QStringLiteral("d1 * 2"));
    EXPECT_TRUE(r.ok);
    EXPECT_DOUBLE_EQ(r.value, 25.0);
    r = doc.tryEval(QStringLiteral("d2"));
    EXPECT_TRUE(r.ok);
    EXPECT_NEAR(r.value, 28.64788975654116, 1e-12);
    r = doc.tryEval(QStringLiteral("Breite + 1 cm"));
    EXPECT_TRUE(r.ok);
    EXPECT_DOUBLE_EQ(r.value, 17.0);

    QString error;
    r = doc.tryEval(QStringLiteral("breite"), &error);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(error, "Unbekannter Name „breite“");
    r = doc.tryEval(QStringLiteral("Länge"), &error);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(error, "Unbekannter Name „Länge“");
    EXPECT_FALSE(doc.tryEval(QStringLiteral("1/0")).ok);

    // A parameter hides a dimension of the same name.
    addParameter(doc, "d1", "100");
    doc.evaluateParameters();
    r = doc.tryEval(QStringLiteral("d1"));
    EXPECT_TRUE(r.ok);
    EXPECT_DOUBLE_EQ(r.value, 100.0);

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
    EXPECT_TRUE(param(doc, "b").error.isEmpty());
    EXPECT_DOUBLE_EQ(param(doc, "b").value, 12.0);

    // Fixing the expression clears the error again.
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

TEST(ParameterEvaluation, CycleBehindAValueCheckIsFound)
{
    // The self-reference stands behind a division and a root that fail for some
    // values of b; the search must see it whatever b is.
    Document doc;
    addParameter(doc, "a", "1/(b - 1) + a");
    addParameter(doc, "b", "3");
    addParameter(doc, "c", "sqrt(b - 5) + c");
    addParameter(doc, "e", "1/(b - b) + sqrt(-b) + b");
    EXPECT_TRUE(doc.dependsOnItself(doc.parameters[0].expr, QStringLiteral("a")));
    EXPECT_FALSE(doc.dependsOnItself(doc.parameters[3].expr, QStringLiteral("e")));
    EXPECT_TRUE(doc.dependsOnItself(QStringLiteral("sqrt(x - 1) / (x - x) + e"), QStringLiteral("b")));
    doc.evaluateParameters();
    EXPECT_EQ(param(doc, "a").error, "Zirkulärer Bezug");
    EXPECT_EQ(param(doc, "c").error, "Zirkulärer Bezug");
    EXPECT_DOUBLE_EQ(param(doc, "a").value, 0.0);
    EXPECT_DOUBLE_EQ(param(doc, "b").value, 3.0);
    // Evaluating again leaves the value where it was instead of growing it.
    doc.evaluateParameters();
    EXPECT_DOUBLE_EQ(param(doc, "a").value, 0.0);
    // No cycle: the evaluator's own message.
    EXPECT_EQ(param(doc, "e").error, "Division durch null");
}
