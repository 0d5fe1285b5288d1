#include "expr/Expression.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <numbers>
#include <utility>

namespace qor {

namespace {

constexpr double degToRad = 0.017453292519943295;
constexpr std::int32_t maxNesting = 256;

// The "C" locale's blanks, tested by hand so that the process locale cannot matter.
bool isBlank(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isLetter(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool isDigit(unsigned char c)
{
    return c >= '0' && c <= '9';
}

bool isNameStart(unsigned char c)
{
    return isLetter(c) || c == '_' || c >= 0x80;
}

bool isNameChar(unsigned char c)
{
    return isNameStart(c) || isDigit(c);
}

bool isPi(std::string_view name)
{
    return name == "pi" || name == "PI";
}

std::string quoted(std::string_view text)
{
    return "„" + std::string(text) + "“";
}

// from_chars leaves the value alone for a token beyond the range of double;
// the user expects infinity for overflow and zero for underflow, so decide by
// the decimal exponent of the leading significant digit.
double outOfRangeValue(std::string_view token)
{
    const std::size_t ePos = token.find_first_of("eE");
    const std::string_view mantissa = token.substr(0, ePos);
    long exponent = 0;
    if (ePos != std::string_view::npos) {
        std::string_view digits = token.substr(ePos + 1);
        const bool negative = !digits.empty() && digits.front() == '-';
        if (!digits.empty() && (digits.front() == '-' || digits.front() == '+'))
            digits.remove_prefix(1);
        const auto res = std::from_chars(digits.data(), digits.data() + digits.size(), exponent);
        if (res.ec == std::errc::result_out_of_range)
            exponent = std::numeric_limits<int>::max();
        if (negative)
            exponent = -exponent;
    }
    const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
    const std::size_t lead = mantissa.find_first_not_of("0.");
    if (lead == std::string_view::npos)
        return 0.0;
    const long leadExponent = lead < point ? long(point - lead) - 1 : -long(lead - point);
    return exponent + leadExponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
}

} // namespace

const std::map<std::string, double, std::less<>>& unitFactors()
{
    static const std::map<std::string, double, std::less<>> factors = {
        {"mm", 1.0},  {"cm", 10.0},  {"m", 1000.0}, {"um", 0.001},
        {"in", 25.4}, {"ft", 304.8}, {"deg", 1.0},  {"rad", 57.29577951308232},
        {"°", 1.0},
    };
    return factors;
}

ExprParser::ExprParser(std::string_view text, const NameResolver& resolver,
                       std::vector<std::string>* names)
    : text(text)
    , resolver(resolver)
    , names(names)
{
}

ExprParser::NestingGuard::NestingGuard(ExprParser& parser)
    : parser(parser)
{
    if (parser.nesting >= maxNesting)
        throw ExprError("Ausdruck zu tief verschachtelt");
    ++parser.nesting;
}

double ExprParser::readAll()
{
    const double value = sum();
    skipBlanks();
    if (!atEnd())
        unexpectedCharacter();
    return value;
}

void ExprParser::skipBlanks()
{
    while (!atEnd() && isBlank(peek()))
        ++pos;
}

void ExprParser::unexpectedCharacter() const
{
    const unsigned char c = peek();
    const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    // A truncated sequence at the end of the text is shown as far as it goes.
    throw ExprError("Unerwartetes Zeichen " + quoted(text.substr(pos, length)));
}

double ExprParser::sum()
{
    NestingGuard guard(*this);
    double value = term();
    for (;;) {
        skipBlanks();
        if (atEnd() || (peek() != '+' && peek() != '-'))
            return value;
        const char op = char(peek());
        ++pos;
        const double rhs = term();
        value = op == '+' ? value + rhs : value - rhs;
    }
}

double ExprParser::term()
{
    double value = power();
    for (;;) {
        skipBlanks();
        if (atEnd() || (peek() != '*' && peek() != '/' && peek() != '%'))
            return value;
        const char op = char(peek());
        ++pos;
        const double rhs = power();
        if (op == '*') {
            value *= rhs;
        } else if (op == '%') {
            value = std::fmod(value, rhs);
        } else {
            if (rhs == 0.0)
                throw ExprError("Division durch null");
            value /= rhs;
        }
    }
}

double ExprParser::power()
{
    const double base = unary();
    skipBlanks();
    if (atEnd() || peek() != '^')
        return base;
    ++pos;
    NestingGuard guard(*this);
    return std::pow(base, power());
}

double ExprParser::unary()
{
    for (;;) {
        skipBlanks();
        if (atEnd() || peek() != '+')
            break;
        ++pos;
    }
    if (!atEnd() && peek() == '-') {
        ++pos;
        NestingGuard guard(*this);
        return -unary();
    }
    return applySuffix(primary());
}

double ExprParser::primary()
{
    skipBlanks();
    if (atEnd())
        throw ExprError("Ausdruck unvollständig");
    const unsigned char c = peek();
    if (c == '(') {
        ++pos;
        const double value = sum();
        skipBlanks();
        if (atEnd() || peek() != ')')
            throw ExprError(quoted(")") + " fehlt");
        ++pos;
        return value;
    }
    if (isDigit(c) || c == '.')
        return number();
    if (!isNameStart(c))
        unexpectedCharacter();

    const std::size_t start = pos;
    while (!atEnd() && isNameChar(peek()))
        ++pos;
    const std::string name(text.substr(start, pos - start));
    skipBlanks();
    if (!atEnd() && peek() == '(')
        return call(name);
    return nameValue(name);
}

double ExprParser::nameValue(const std::string& name)
{
    if (isPi(name))
        return std::numbers::pi;
    if (names)
        names->push_back(name);
    if (resolver) {
        if (const std::optional<double> value = resolver(name))
            return *value;
    } else if (names) {
        return 1.0;
    }
    throw ExprError("Unbekannter Name " + quoted(name));
}

double ExprParser::number()
{
    const std::size_t start = pos;
    // Outside argument lists a decimal comma is part of the number; inside, it
    // separates arguments.
    while (!atEnd() && (isDigit(peek()) || peek() == '.' || (callDepth == 0 && peek() == ',')))
        ++pos;
    if (pos + 1 < text.size() && (peek() == 'e' || peek() == 'E')) {
        const unsigned char next = static_cast<unsigned char>(text[pos + 1]);
        if (next == '+' || next == '-' || isDigit(next)) {
            pos += 2;
            while (!atEnd() && isDigit(peek()))
                ++pos;
        }
    }
    std::string token(text.substr(start, pos - start));
    std::replace(token.begin(), token.end(), ',', '.');

    double value = 0.0;
    const char* end = token.data() + token.size();
    const auto res = std::from_chars(token.data(), end, value);
    if (res.ptr != end || (res.ec != std::errc() && res.ec != std::errc::result_out_of_range))
        throw ExprError("Ungültige Zahl " + quoted(token));
    return res.ec == std::errc::result_out_of_range ? outOfRangeValue(token) : value;
}

double ExprParser::call(const std::string& name)
{
    ++pos;
    ++callDepth;
    std::vector<double> args;
    skipBlanks();
    if (!atEnd() && peek() == ')') {
        ++pos;
        --callDepth;
        return callFunction(name, args);
    }
    for (;;) {
        args.push_back(sum());
        skipBlanks();
        if (atEnd())
            throw ExprError(quoted(")") + " fehlt");
        const unsigned char c = peek();
        ++pos;
        if (c == ')')
            break;
        if (c != ',' && c != ';')
            throw ExprError(quoted(")") + " fehlt");
    }
    --callDepth;
    return callFunction(name, args);
}

double ExprParser::applySuffix(double value)
{
    skipBlanks();
    if (atEnd())
        return value;
    if (!isLetter(peek())) {
        if (text.substr(pos, 2) == "°")
            pos += 2;
        return value;
    }
    const std::size_t start = pos;
    while (!atEnd() && isNameChar(peek()))
        ++pos;
    const auto unit = unitFactors().find(text.substr(start, pos - start));
    if (unit != unitFactors().end()) {
        skipBlanks();
        if (atEnd() || std::string_view("+-*/)^%,;").find(char(peek())) != std::string_view::npos)
            return value * unit->second;
    }
    pos = start;
    return value;
}

double evaluateExpression(std::string_view text, const NameResolver& resolver)
{
    return ExprParser(text, resolver).readAll();
}

EvalResult tryEvaluateExpression(std::string_view text, const NameResolver& resolver,
                                 std::string* error)
{
    try {
        return {true, evaluateExpression(text, resolver)};
    } catch (const std::exception& e) {
        if (error)
            *error = e.what();
        return {false, 0.0};
    }
}

std::vector<std::string> expressionNames(std::string_view text)
{
    std::vector<std::string> names;
    const NameResolver none;
    try {
        ExprParser(text, none, &names).readAll();
    } catch (const std::exception&) {
        // The names read before the failure are still dependencies.
    }
    return names;
}

bool isValidIdentifier(std::string_view name)
{
    if (name.empty() || !isNameStart(static_cast<unsigned char>(name.front())))
        return false;
    if (!std::all_of(name.begin(), name.end(),
                     [](char c) { return isNameChar(static_cast<unsigned char>(c)); }))
        return false;
    return !unitFactors().contains(name) && !isPi(name);
}

double callFunction(std::string_view name, const std::vector<double>& args)
{
    using Unary = double (*)(double);
    static const std::pair<std::string_view, Unary> unaryFunctions[] = {
        {"sin", [](double x) { return std::sin(x * degToRad); }},
        {"cos", [](double x) { return std::cos(x * degToRad); }},
        {"tan", [](double x) { return std::tan(x * degToRad); }},
        {"asin", [](double x) { return std::asin(x) / degToRad; }},
        {"acos", [](double x) { return std::acos(x) / degToRad; }},
        {"atan", [](double x) { return std::atan(x) / degToRad; }},
        {"sqrt",
         [](double x) {
             if (x < 0.0)
                 throw ExprError("Wurzel aus negativer Zahl");
             return std::sqrt(x);
         }},
        {"abs", [](double x) { return std::fabs(x); }},
        {"round", [](double x) { return std::round(x); }},
        {"floor", [](double x) { return std::floor(x); }},
        {"ceil", [](double x) { return std::ceil(x); }},
    };
    const auto expectCount = [&](std::size_t count) {
        if (args.size() != count)
            throw ExprError(std::string(name) + "() erwartet " + std::to_string(count)
                            + " Wert(e)");
    };

    for (const auto& [fname, fn] : unaryFunctions) {
        if (fname == name) {
            expectCount(1);
            return fn(args[0]);
        }
    }
    if (name == "atan2") {
        expectCount(2);
        return std::atan2(args[0], args[1]) / degToRad;
    }
    if (name == "min" || name == "max") {
        if (args.empty())
            throw ExprError(std::string(name) + "() ohne Werte");
        const bool isMin = name == "min";
        double best = args[0];
        for (double v : args)
            if (isMin ? v < best : v > best)
                best = v;
        return best;
    }
    throw ExprError("Unbekannte Funktion " + quoted(name));
}

} // namespace qor
