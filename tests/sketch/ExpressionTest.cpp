#include "expr/Expression.h"
#include "expr/Format.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <map>
#include <numbers>

using qor::evaluateExpression;

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
    } catch (const qor::ExprError& e) {
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

TEST(Expression, Values)
{
    const std::pair<const char*, double> cases[] = {
        // Precedence, associativity and signs.
        {"1 + 2 * 3", 7},
        {"10 - 4 - 3", 3},
        {"8 / 4 / 2", 1},
        {"-2^2", 4},
        {"2^3^2", 512},
        {"2^-1", 0.5},
        {"--5", 5},
        {"+-5", -5},
        {" ( 1 + 2 ) * 3 ", 9},
        {"10 % 3", 1},
        {"-7 % 3", -1},
        {"7.5 % 2", 1.5},
        // A decimal comma only outside calls, where ',' and ';' separate arguments.
        {"2,5", 2.5},
        {"(2,5)*2", 5},
        {"max(2,5)", 5},
        {"max(2,5; 3)", 5},
        {"min(2,5; 3)", 2},
        {"1.5e3", 1500},
        {"1E-3", 0.001},
        {".5", 0.5},
        {"5.", 5},
        {"1e999", std::numeric_limits<double>::infinity()},
        {"1e-999", 0},
        {"0.00001e-320", 0},
        // Units convert to millimetres and degrees.
        {"2m", 2000},
        {"(1+1) m", 2000},
        {"3 cm*2", 60},
        {"2 mm + 1", 3},
        {"max(2 mm; 3 mm)", 3},
        {"1 in", 25.4},
        {"2 ft", 609.6},
        {"pi rad", 180},
        {"1 rad", 57.29577951308232},
        {"30°", 30},
        {"-2 cm", -20},
        {"2 m ^ 2", 4000000},
        // Angles in degrees.
        {"sin(30)", 0.49999999999999994},
        {"atan2(1, 1)", 45},
        {"round(-2.5)", -3},
        {"floor(-1.5) + ceil(1.2)", 0},
        {"abs(-3) + sqrt(16)", 7},
        {"sqrt (9) cm", 30},
        {"min(3; 1; 2) + max(3; 7; 2)", 8},
        {"PI", 3.141592653589793},
    };
    for (const auto& [text, value] : cases)
        EXPECT_EQ(eval(text), value) << text;
    EXPECT_DOUBLE_EQ(eval("5um"), 0.005);
    EXPECT_NEAR(eval("cos(60)"), 0.5, 1e-15);
    EXPECT_NEAR(eval("asin(0.5)"), 30.0, 1e-12);
    EXPECT_DOUBLE_EQ(eval("atan2(1; -1)"), 135.0);
    EXPECT_TRUE(std::isnan(eval("acos(2)")));
    EXPECT_TRUE(std::isnan(eval("5 % 0")));
}

TEST(Expression, ErrorMessages)
{
    const std::pair<const char*, const char*> cases[] = {
        {"1/0", "Division durch null"},
        {"1/-0", "Division durch null"},
        {"1e", "Unerwartetes Zeichen „e“"},
        {"1e+", "Ungültige Zahl „1e+“"},
        {"1,2,3", "Ungültige Zahl „1.2.3“"},
        {"1.2.3", "Ungültige Zahl „1.2.3“"},
        {".", "Ungültige Zahl „.“"},
        {"", "Ausdruck unvollständig"},
        {" \t\n", "Ausdruck unvollständig"},
        {"5 -", "Ausdruck unvollständig"},
        {"max(1;", "Ausdruck unvollständig"},
        {"(1+2", "„)“ fehlt"},
        {"max(1 2)", "„)“ fehlt"},
        {"max(1", "„)“ fehlt"},
        {"5)", "Unerwartetes Zeichen „)“"},
        {"5 µm", "Unerwartetes Zeichen „µ“"},
        // A lead byte promising more bytes than the text holds.
        {"5 \xC3", "Unerwartetes Zeichen „\xC3“"},
        {"5 \xE2\x82", "Unerwartetes Zeichen „\xE2\x82“"},
        // A unit word followed by something other than an operator is rolled back;
        // on its own it is a name.
        {"2 mm x", "Unerwartetes Zeichen „m“"},
        {"2 mm2", "Unerwartetes Zeichen „m“"},
        {"(2 mx)", "„)“ fehlt"},
        {"mm", "Unbekannter Name „mm“"},
        {"sqrt(-1)", "Wurzel aus negativer Zahl"},
        {"sqrt()", "sqrt() erwartet 1 Wert(e)"},
        {"sin(1; 2)", "sin() erwartet 1 Wert(e)"},
        {"atan2(1)", "atan2() erwartet 2 Wert(e)"},
        {"min()", "min() ohne Werte"},
        {"pi()", "Unbekannte Funktion „pi“"},
        {"SIN(1)", "Unbekannte Funktion „SIN“"},
        {"Pi", "Unbekannter Name „Pi“"},
    };
    for (const auto& [text, message] : cases)
        EXPECT_EQ(errorOf(text), message) << text;
    // The view ends inside a sequence that the underlying buffer completes.
    const std::string buffer = "5 €";
    EXPECT_EQ(errorOf(std::string_view(buffer).substr(0, buffer.size() - 1)),
              "Unerwartetes Zeichen „\xE2\x82“");

    std::string error;
    EXPECT_FALSE(qor::tryEvaluateExpression("x", {}, &error).ok);
    EXPECT_EQ(error, "Unbekannter Name „x“");
    const qor::EvalResult good = qor::tryEvaluateExpression("2 cm", {}, &error);
    EXPECT_TRUE(good.ok);
    EXPECT_EQ(good.value, 20.0);
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

    using Names = std::vector<std::string>;
    EXPECT_EQ(qor::expressionNames("sin(x) + 2 mm"), Names{"x"});
    // Names read before a syntax error still count.
    EXPECT_EQ(qor::expressionNames("a + b*a +"), (Names{"a", "b", "a"}));
    EXPECT_EQ(qor::expressionNames("pi*PI*Pi + mm"), (Names{"Pi", "mm"}));
    EXPECT_EQ(qor::expressionNames("a b"), (Names{"a"}));

    for (const char* name : {"Länge", "_a1", "Pi", "d1", "mm2", "µ"})
        EXPECT_TRUE(qor::isValidIdentifier(name)) << name;
    for (const char* name :
         {"", "1a", "a-b", "a b", "mm", "m", "in", "deg", "rad", "°", "pi", "PI"})
        EXPECT_FALSE(qor::isValidIdentifier(name)) << name;
}

TEST(Expression, DeepNestingFailsWithAMessage)
{
    for (const std::string& text :
         {repeated("(", 10000) + "1" + repeated(")", 10000), repeated("-", 10000) + "1",
          repeated("2^", 10000) + "1", repeated("abs(", 10000) + "1" + repeated(")", 10000),
          repeated("-(", 10000)})
        EXPECT_EQ(errorOf(text), "Ausdruck zu tief verschachtelt") << text.substr(0, 4);
    EXPECT_GT(qor::expressionNames(repeated("(a+", 10000)).size(), 100u);

    // Reasonable depths still evaluate; leading '+' do not recurse at all.
    EXPECT_EQ(eval(repeated("(", 200) + "7" + repeated(")", 200)), 7.0);
    EXPECT_EQ(eval(repeated("-", 200) + "7"), 7.0);
    EXPECT_EQ(eval(repeated("abs(", 200) + "-7" + repeated(")", 200)), 7.0);
    EXPECT_EQ(eval(repeated("1^", 200) + "1"), 1.0);
    EXPECT_EQ(eval(repeated("+", 10000) + "7"), 7.0);
}

// Numbers are read and written with a decimal point whatever the process locale.
TEST(Expression, NumbersIgnoreGermanLocale)
{
    const char* old = std::setlocale(LC_ALL, nullptr);
    const std::string saved = old ? old : "C";
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
    EXPECT_EQ(eval("0.25 + 1,5"), 1.75);
    EXPECT_EQ(eval("1.5e3 mm"), 1500.0);
    EXPECT_EQ(errorOf("1.2.3"), "Ungültige Zahl „1.2.3“");
    EXPECT_EQ(qor::formatNumber(4, 1234.56789), "1234.5679");
    std::setlocale(LC_ALL, saved.c_str());
}
