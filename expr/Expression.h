#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qor {

// Failure of reading or evaluating an expression; what() is the German text
// shown to the user unchanged.
class ExprError : public std::runtime_error {
public:
    explicit ExprError(const std::string& message)
        : std::runtime_error(message)
    {
    }
};

// Looks up a name (exact UTF-8 bytes, case-sensitive); nothing means unknown.
using NameResolver = std::function<std::optional<double>(const std::string&)>;

struct EvalResult {
    bool ok = false;
    double value = 0.0;
};

// Unit suffix -> factor to millimetres (lengths) or degrees (angles).
const std::map<std::string, double, std::less<>>& unitFactors();

// Recursive-descent reader that computes the value while it reads. One per
// evaluation; `names`, when given, receives every name operand in reading order.
class ExprParser {
public:
    ExprParser(std::string_view text, const NameResolver& resolver,
               std::vector<std::string>* names = nullptr);

    // Reads the whole text as one sum; text left over is an error.
    double readAll();

private:
    double sum();
    double term();
    double power();
    double unary();
    double primary();
    double number();
    double call(const std::string& name);
    double nameValue(const std::string& name);
    double applySuffix(double value);
    void skipBlanks();
    bool atEnd() const { return pos >= text.size(); }
    unsigned char peek() const { return static_cast<unsigned char>(text[pos]); }
    [[noreturn]] void unexpectedCharacter() const;

    // Bounds the recursion so that pathological nesting fails with a message
    // instead of overflowing the stack.
    class NestingGuard {
    public:
        explicit NestingGuard(ExprParser& parser);
        ~NestingGuard() { --parser.nesting; }
        NestingGuard(const NestingGuard&) = delete;
        NestingGuard& operator=(const NestingGuard&) = delete;

    private:
        ExprParser& parser;
    };

    std::string_view text;
    const NameResolver& resolver;
    std::vector<std::string>* names;
    std::size_t pos = 0;
    std::int32_t callDepth = 0;
    std::int32_t nesting = 0;
};

// Value of the expression, or ExprError with the German message.
double evaluateExpression(std::string_view text, const NameResolver& resolver = {});

// Like evaluateExpression, but a failure gives {false, 0.0} and its message in `error`.
EvalResult tryEvaluateExpression(std::string_view text, const NameResolver& resolver = {},
                                 std::string* error = nullptr);

// Names the expression refers to, in reading order with duplicates, up to the
// point where reading fails. Functions, units and pi are not names.
std::vector<std::string> expressionNames(std::string_view text);

// Rule for names of user parameters.
bool isValidIdentifier(std::string_view name);

// Applies a built-in function; angles are in degrees.
double callFunction(std::string_view name, const std::vector<double>& args);

} // namespace qor
