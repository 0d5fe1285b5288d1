#include "expr/Expression.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <map>
#include <numbers>

using qor::evaluateExpression;
using qor::ExprError;

namespace {

double eval(std::string_view text)
{
    return evaluateExpression(text);
}

// The message of the ExprError the text raises, or "" when it evaluates.
std::string errorOf(std::string_view text, const qor::NameResolver& resolver = {})
{
    try {
        evaluateExpression(text, resolver);
    } catch (const ExprError& e) {
        return e.what();
    }
    return {};
}

std::string repeated(std::string_view piece, int count)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += piece;
    return text;
}

} // namespace

TEST(Expression, PrecedenceAndAssociativity)
{
    EXPECT_EQ(eval("1 + 2 * 3"), 7.0);
    EXPECT_EQ(eval("10 - 4 - 3"), 3.0);
    EXPECT_EQ(eval("8 / 4 / 2"), 1.0);
    EXPECT_EQ(eval("-2^2"), 4.0);
    EXPECT_EQ(eval("2^3^2"), 512.0);
    EXPECT_EQ(eval("2^-1"), 0.5);
    EXPECT_EQ(eval("--5"), 5.0);
    EXPECT_EQ(eval("+-5"), -5.0);
    EXPECT_EQ(eval(" ( 1 + 2 ) * 3 "), 9.0);
}

TEST(Expression, RemainderAndDivision)
{
    EXPECT_EQ(eval("10 % 3"), 1.0);
    EXPECT_EQ(eval("-7 % 3"), -1.0);
    EXPECT_EQ(eval("7.5 % 2"), 1.5);
    EXPECT_TRUE(std::isnan(eval("5 % 0")));
    EXPECT_EQ(errorOf("1/0"), "Division durch null");
    EXPECT_EQ(errorOf("1/-0"), "Division durch null");
}

TEST(Expression, DecimalCommaOnlyOutsideCalls)
{
    EXPECT_EQ(eval("2,5"), 2.5);
    EXPECT_EQ(eval("(2,5)*2"), 5.0);
    EXPECT_EQ(eval("max(2,5)"), 5.0);
    EXPECT_EQ(eval("max(2,5; 3)"), 5.0);
    EXPECT_EQ(eval("min(2,5; 3)"), 2.0);
}

TEST(Expression, NumberTokens)
{
    EXPECT_EQ(eval("1.5e3"), 1500.0);
    EXPECT_EQ(eval("1E-3"), 0.001);
    EXPECT_EQ(eval(".5"), 0.5);
    EXPECT_EQ(eval("5."), 5.0);
    EXPECT_EQ(errorOf("1e"), "Unerwartetes Zeichen „e“");
    EXPECT_EQ(errorOf("1e+"), "Ungültige Zahl „1e+“");
    EXPECT_EQ(errorOf("1,2,3"), "Ungültige Zahl „1.2.3“");
    EXPECT_EQ(errorOf("1.2.3"), "Ungültige Zahl „1.2.3“");
    EXPECT_EQ(errorOf("."), "Ungültige Zahl „.“");
    // Beyond the range of double: overflow is infinity, underflow zero.
    EXPECT_EQ(eval("1e999"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(eval("1e-999"), 0.0);
    EXPECT_EQ(eval("0.00001e-320"), 0.0);
}

TEST(Expression, StructuralErrors)
{
    EXPECT_EQ(errorOf(""), "Ausdruck unvollständig");
    EXPECT_EQ(errorOf(" \t\n"), "Ausdruck unvollständig");
    EXPECT_EQ(errorOf("5 -"), "Ausdruck unvollständig");
    EXPECT_EQ(errorOf("(1+2"), "„)“ fehlt");
    EXPECT_EQ(errorOf("max(1 2)"), "„)“ fehlt");
    EXPECT_EQ(errorOf("max(1;"), "Ausdruck unvollständig");
    EXPECT_EQ(errorOf("max(1"), "„)“ fehlt");
    EXPECT_EQ(errorOf("5)"), "Unerwartetes Zeichen „)“");
    EXPECT_EQ(errorOf("5 µm"), "Unerwartetes Zeichen „µ“");
}

TEST(Expression, TruncatedUtf8StaysInsideTheText)
{
    // A lead byte promising more bytes than the text holds.
    EXPECT_EQ(errorOf("5 \xC3"), "Unerwartetes Zeichen „\xC3“");
    EXPECT_EQ(errorOf("5 \xE2\x82"), "Unerwartetes Zeichen „\xE2\x82“");
    // The view ends before the rest of the sequence in the underlying buffer.
    const std::string buffer = "5 €";
    EXPECT_EQ(errorOf(std::string_view(buffer).substr(0, buffer.size() - 1)),
              "Unerwartetes Zeichen „\xE2\x82“");
    EXPECT_EQ(errorOf("5 €"), "Unerwartetes Zeichen „€“");
}

TEST(Expression, UnitSuffixes)
{
    EXPECT_EQ(eval("2m"), 2000.0);
    EXPECT_EQ(eval("(1+1) m"), 2000.0);
    EXPECT_EQ(eval("3 cm*2"), 60.0);
    EXPECT_EQ(eval("2 mm + 1"), 3.0);
    EXPECT_EQ(eval("max(2 mm; 3 mm)"), 3.0);
    EXPECT_EQ(eval("1 in"), 25.4);
    EXPECT_EQ(eval("2 ft"), 609.6);
    EXPECT_DOUBLE_EQ(eval("5um"), 0.005);
    EXPECT_EQ(eval("pi rad"), 180.0);
    EXPECT_EQ(eval("1 rad"), 57.29577951308232);
    EXPECT_EQ(eval("30°"), 30.0);
    EXPECT_EQ(eval("-2 cm"), -20.0);
    EXPECT_EQ(eval("2 m ^ 2"), 4000000.0);
    // A unit word followed by something other than an operator is rolled back.
    EXPECT_EQ(errorOf("2 mm x"), "Unerwartetes Zeichen „m“");
    EXPECT_EQ(errorOf("2 mm2"), "Unerwartetes Zeichen „m“");
    EXPECT_EQ(errorOf("(2 mx)"), "„)“ fehlt");
    // On its own a unit word is a name.
    EXPECT_EQ(errorOf("mm"), "Unbekannter Name „mm“");
}

TEST(Expression, FunctionsAndArity)
{
    EXPECT_EQ(eval("sin(30)"), 0.49999999999999994);
    EXPECT_NEAR(eval("cos(60)"), 0.5, 1e-15);
    EXPECT_NEAR(eval("asin(0.5)"), 30.0, 1e-12);
    EXPECT_EQ(eval("atan2(1, 1)"), 45.0);
    EXPECT_DOUBLE_EQ(eval("atan2(1; -1)"), 135.0);
    EXPECT_TRUE(std::isnan(eval("acos(2)")));
    EXPECT_EQ(eval("round(-2.5)"), -3.0);
    EXPECT_EQ(eval("floor(-1.5) + ceil(1.2)"), 0.0);
    EXPECT_EQ(eval("abs(-3) + sqrt(16)"), 7.0);
    EXPECT_EQ(eval("sqrt (9) cm"), 30.0);
    EXPECT_EQ(eval("min(3; 1; 2) + max(3; 7; 2)"), 8.0);
    EXPECT_EQ(errorOf("sqrt(-1)"), "Wurzel aus negativer Zahl");
    EXPECT_EQ(errorOf("sqrt()"), "sqrt() erwartet 1 Wert(e)");
    EXPECT_EQ(errorOf("sin(1; 2)"), "sin() erwartet 1 Wert(e)");
    EXPECT_EQ(errorOf("atan2(1)"), "atan2() erwartet 2 Wert(e)");
    EXPECT_EQ(errorOf("min()"), "min() ohne Werte");
    EXPECT_EQ(errorOf("pi()"), "Unbekannte Funktion „pi“");
    EXPECT_EQ(errorOf("SIN(1)"), "Unbekannte Funktion „SIN“");
    EXPECT_EQ(eval("PI"), 3.141592653589793);
    EXPECT_EQ(errorOf("Pi"), "Unbekannter Name „Pi“");
}

TEST(Expression, NamesGoToTheResolver)
{
    const std::map<std::string, double> values = {{"Länge", 40.0}, {"mm", 2.0}, {"sin", 9.0}};
    std::vector<std::string> asked;
    const qor::NameResolver resolver = [&](const std::string& name) -> std::optional<double> {
        asked.push_back(name);
        const auto it = values.find(name);
        return it == values.end() ? std::nullopt : std::optional<double>(it->second);
    };
    EXPECT_EQ(evaluateExpression("Länge/2 + mm + sin + pi", resolver), 31.0 + std::numbers::pi);
    EXPECT_EQ(asked, (std::vector<std::string>{"Länge", "mm", "sin"}));
    EXPECT_EQ(errorOf("breite", resolver), "Unbekannter Name „breite“");
    EXPECT_EQ(errorOf("x"), "Unbekannter Name „x“");
}

TEST(Expression, TryEvaluateReportsInsteadOfThrowing)
{
    std::string error;
    const qor::EvalResult bad = qor::tryEvaluateExpression("x", {}, &error);
    EXPECT_FALSE(bad.ok);
    EXPECT_EQ(error, "Unbekannter Name „x“");
    const qor::EvalResult good = qor::tryEvaluateExpression("2 cm", {}, &error);
    EXPECT_TRUE(good.ok);
    EXPECT_EQ(good.value, 20.0);
}

TEST(Expression, NamesOfAnExpression)
{
    using Names = std::vector<std::string>;
    EXPECT_EQ(qor::expressionNames("a + b*a"), (Names{"a", "b", "a"}));
    EXPECT_EQ(qor::expressionNames("sin(x) + 2 mm"), (Names{"x"}));
    EXPECT_EQ(qor::expressionNames("a/(b-b) + c"), (Names{"a", "b", "b"}));
    EXPECT_EQ(qor::expressionNames("1 +"), Names{});
    EXPECT_EQ(qor::expressionNames("pi*PI*Pi + mm"), (Names{"Pi", "mm"}));
    EXPECT_EQ(qor::expressionNames("a b"), (Names{"a"}));
}

TEST(Expression, ValidIdentifiers)
{
    for (const char* name : {"Länge", "_a1", "Pi", "d1", "mm2", "µ"})
        EXPECT_TRUE(qor::isValidIdentifier(name)) << name;
    for (const char* name : {"", "1a", "a-b", "a b", "mm", "m", "in", "deg", "rad", "°", "pi", "PI"})
        EXPECT_FALSE(qor::isValidIdentifier(name)) << name;
}

TEST(Expression, DeepNestingFailsWithAMessage)
{
    const std::string tooDeep = "Ausdruck zu tief verschachtelt";
    EXPECT_EQ(errorOf(repeated("(", 10000) + "1" + repeated(")", 10000)), tooDeep);
    EXPECT_EQ(errorOf(repeated("-", 10000) + "1"), tooDeep);
    EXPECT_EQ(errorOf(repeated("2^", 10000) + "1"), tooDeep);
    EXPECT_EQ(errorOf(repeated("abs(", 10000) + "1" + repeated(")", 10000)), tooDeep);
    EXPECT_EQ(errorOf(repeated("-(", 10000)), tooDeep);
    EXPECT_TRUE(qor::expressionNames(repeated("(a+", 10000)).size() > 100);

    // Reasonable depths still evaluate; leading '+' do not recurse at all.
    EXPECT_EQ(eval(repeated("(", 200) + "7" + repeated(")", 200)), 7.0);
    EXPECT_EQ(eval(repeated("-", 200) + "7"), 7.0);
    EXPECT_EQ(eval(repeated("abs(", 200) + "-7" + repeated(")", 200)), 7.0);
    EXPECT_EQ(eval(repeated("1^", 200) + "1"), 1.0);
    EXPECT_EQ(eval(repeated("+", 10000) + "7"), 7.0);
}

TEST(Expression, IgnoresGermanLocale)
{
    const char* old = std::setlocale(LC_ALL, nullptr);
    const std::string saved = old ? old : "C";
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
    EXPECT_EQ(eval("2,5"), 2.5);
    EXPECT_EQ(eval("1.5e3 mm"), 1500.0);
    EXPECT_EQ(eval("0.25 + 1,5"), 1.75);
    EXPECT_EQ(eval("sin(30)"), 0.49999999999999994);
    EXPECT_EQ(errorOf("1.2.3"), "Ungültige Zahl „1.2.3“");
    std::setlocale(LC_ALL, saved.c_str());
}
