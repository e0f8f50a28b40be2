// Formulas of SwissKnife nodes in the GenICam formula syntax:
//   + - * / % ** & | ^ ~ << >> = <> < > <= >= && || ! ?: ( )
//   ABS SQRT TRUNC FLOOR CEIL ROUND NEG SGN SIN COS TAN ASIN ACOS ATAN EXP LN LG E PI
// Variables are numbered at parse time; their values are fetched at evaluation time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace GenApi::detail {

// A formula value: integer unless a float took part.
struct FormulaValue {
    bool is_float = false;
    int64_t i = 0;
    double f = 0;
    static FormulaValue Int(int64_t v) { return {false, v, static_cast<double>(v)}; }
    static FormulaValue Float(double v) { return {true, 0, v}; }
    double AsFloat() const { return is_float ? f : static_cast<double>(i); }
    int64_t AsInt() const; // floats truncated toward zero, saturated
};

// Syntax error (message without position) or evaluation error (division by zero).
class FormulaError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Formula {
public:
    // Returns the variable number of a name, or -1 when the name is no variable.
    using VariableLookup = std::function<int(const std::string& name)>;
    using VariableValue = std::function<FormulaValue(int variable)>;

    Formula();
    ~Formula();
    Formula(Formula&&) noexcept;
    Formula& operator=(Formula&&) noexcept;

    // Throws FormulaError on a syntax error or an unknown variable.
    static Formula Parse(const std::string& text, const VariableLookup& lookup);

    // float_mode: every value is taken as a double (SwissKnife); otherwise integers stay
    // integers (IntSwissKnife: integer division, bit operations).
    FormulaValue Evaluate(const VariableValue& variable, bool float_mode) const;
    bool IsEmpty() const noexcept { return root_ == nullptr; }

    struct Expr;

private:
    std::unique_ptr<Expr> root_;
};

} // namespace GenApi::detail
