#include "genapi/Formula.h"

#include <cctype>
#include <cmath>
#include <limits>
#include <vector>

#include "genapi/TextFormat.h"

namespace GenApi::detail {

int64_t FormulaValue::AsInt() const {
    if (!is_float)
        return i;
    if (std::isnan(f))
        return 0;
    if (f >= 9.2233720368547758e18)
        return std::numeric_limits<int64_t>::max();
    if (f <= -9.2233720368547758e18)
        return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(f);
}

enum class Op {
    Number, Variable, Neg, Plus, BitNot, Not, Add, Sub, Mul, Div, Mod, Pow, BitAnd, BitOr, BitXor,
    Shl, Shr, Eq, Ne, Lt, Gt, Le, Ge, And, Or, Cond, Func
};

struct Formula::Expr {
    Op op = Op::Number;
    FormulaValue number;
    int variable = -1;
    std::string function;
    std::vector<std::unique_ptr<Expr>> args;
};

namespace {

using ExprPtr = std::unique_ptr<Formula::Expr>;

ExprPtr Make(Op op, std::vector<ExprPtr> args = {}) {
    auto e = std::make_unique<Formula::Expr>();
    e->op = op;
    e->args = std::move(args);
    return e;
}

struct FunctionInfo {
    const char* name;
    int min_args;
    int max_args;
};
constexpr FunctionInfo kFunctions[] = {
    {"ABS", 1, 1},  {"SQRT", 1, 1}, {"TRUNC", 1, 1}, {"FLOOR", 1, 1}, {"CEIL", 1, 1}, {"ROUND", 1, 2},
    {"NEG", 1, 1},  {"SGN", 1, 1},  {"SIN", 1, 1},   {"COS", 1, 1},   {"TAN", 1, 1},  {"ASIN", 1, 1},
    {"ACOS", 1, 1}, {"ATAN", 1, 1}, {"EXP", 1, 1},   {"LN", 1, 1},    {"LG", 1, 1},   {"E", 0, 0},
    {"PI", 0, 0},
};

const FunctionInfo* FindFunction(const std::string& name) {
    for (const auto& f : kFunctions)
        if (name == f.name)
            return &f;
    return nullptr;
}

class Parser {
public:
    Parser(const std::string& text, const Formula::VariableLookup& lookup) : text_(text), lookup_(lookup) {}

    ExprPtr ParseAll() {
        Next();
        auto e = Ternary();
        if (!token_.empty())
            throw FormulaError("unexpected '" + token_ + "' in formula '" + text_ + "'");
        return e;
    }

private:
    enum class Kind { End, Number, Name, Symbol };

    void Next() {
        while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_])))
            ++pos_;
        token_.clear();
        if (pos_ >= text_.size()) {
            kind_ = Kind::End;
            return;
        }
        const char c = text_[pos_];
        if (std::isdigit(static_cast<unsigned char>(c)) || (c == '.' && pos_ + 1 < text_.size() &&
                                                            std::isdigit(static_cast<unsigned char>(text_[pos_ + 1])))) {
            kind_ = Kind::Number;
            std::size_t end = pos_;
            if (c == '0' && pos_ + 1 < text_.size() && (text_[pos_ + 1] == 'x' || text_[pos_ + 1] == 'X')) {
                end += 2;
                while (end < text_.size() && std::isxdigit(static_cast<unsigned char>(text_[end])))
                    ++end;
            } else {
                while (end < text_.size() &&
                       (std::isdigit(static_cast<unsigned char>(text_[end])) || text_[end] == '.'))
                    ++end;
                if (end < text_.size() && (text_[end] == 'e' || text_[end] == 'E')) {
                    std::size_t exp = end + 1;
                    if (exp < text_.size() && (text_[exp] == '+' || text_[exp] == '-'))
                        ++exp;
                    if (exp < text_.size() && std::isdigit(static_cast<unsigned char>(text_[exp]))) {
                        end = exp;
                        while (end < text_.size() && std::isdigit(static_cast<unsigned char>(text_[end])))
                            ++end;
                    }
                }
            }
            token_ = text_.substr(pos_, end - pos_);
            pos_ = end;
            return;
        }
        if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            kind_ = Kind::Name;
            std::size_t end = pos_;
            while (end < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[end])) ||
                                          text_[end] == '_' || text_[end] == '.'))
                ++end;
            token_ = text_.substr(pos_, end - pos_);
            pos_ = end;
            return;
        }
        static const char* const kSymbols[] = {"**", "<<", ">>", "<=", ">=", "<>", "&&", "||", "==", "!=",
                                               "+",  "-",  "*",  "/",  "%",  "&",  "|",  "^",  "~",  "!",
                                               "=",  "<",  ">",  "?",  ":",  "(",  ")",  ","};
        for (const char* s : kSymbols) {
            const std::string sym(s);
            if (text_.compare(pos_, sym.size(), sym) == 0) {
                kind_ = Kind::Symbol;
                token_ = sym;
                pos_ += sym.size();
                return;
            }
        }
        throw FormulaError(std::string("unexpected character '") + c + "' in formula '" + text_ + "'");
    }

    bool Accept(const char* symbol) {
        if (kind_ == Kind::Symbol && token_ == symbol) {
            Next();
            return true;
        }
        return false;
    }

    void Expect(const char* symbol) {
        if (!Accept(symbol))
            throw FormulaError(std::string("expected '") + symbol + "' but found '" +
                               (token_.empty() ? std::string("end") : token_) + "' in formula '" + text_ + "'");
    }

    struct Depth {
        explicit Depth(Parser& p) : p_(p) {
            if (++p_.depth_ > 200)
                throw FormulaError("formula nested too deeply: '" + p_.text_ + "'");
        }
        ~Depth() { --p_.depth_; }
        Parser& p_;
    };

    ExprPtr Ternary() {
        Depth guard(*this);
        auto cond = Binary(0);
        if (Accept("?")) {
            auto yes = Ternary();
            Expect(":");
            auto no = Ternary();
            std::vector<ExprPtr> args;
            args.push_back(std::move(cond));
            args.push_back(std::move(yes));
            args.push_back(std::move(no));
            return Make(Op::Cond, std::move(args));
        }
        return cond;
    }

    // Binary operator levels from loosest to tightest.
    struct Level {
        std::vector<std::pair<const char*, Op>> ops;
    };
    static const std::vector<Level>& Levels() {
        static const std::vector<Level> levels = {
            {{{"||", Op::Or}}},
            {{{"&&", Op::And}}},
            {{{"|", Op::BitOr}}},
            {{{"^", Op::BitXor}}},
            {{{"&", Op::BitAnd}}},
            {{{"=", Op::Eq}, {"==", Op::Eq}, {"<>", Op::Ne}, {"!=", Op::Ne}}},
            {{{"<=", Op::Le}, {">=", Op::Ge}, {"<", Op::Lt}, {">", Op::Gt}}},
            {{{"<<", Op::Shl}, {">>", Op::Shr}}},
            {{{"+", Op::Add}, {"-", Op::Sub}}},
            {{{"*", Op::Mul}, {"/", Op::Div}, {"%", Op::Mod}}},
        };
        return levels;
    }

    ExprPtr Binary(std::size_t level) {
        if (level == Levels().size())
            return Unary();
        auto left = Binary(level + 1);
        for (;;) {
            bool matched = false;
            for (const auto& [symbol, op] : Levels()[level].ops) {
                if (Accept(symbol)) {
                    std::vector<ExprPtr> args;
                    args.push_back(std::move(left));
                    args.push_back(Binary(level + 1));
                    left = Make(op, std::move(args));
                    matched = true;
                    break;
                }
            }
            if (!matched)
                return left;
        }
    }

    ExprPtr Unary() {
        Depth guard(*this);
        static const std::pair<const char*, Op> kUnary[] = {
            {"-", Op::Neg}, {"+", Op::Plus}, {"~", Op::BitNot}, {"!", Op::Not}};
        for (const auto& [symbol, op] : kUnary) {
            if (Accept(symbol)) {
                std::vector<ExprPtr> args;
                args.push_back(Unary());
                return Make(op, std::move(args));
            }
        }
        auto base = Primary();
        if (Accept("**")) {
            std::vector<ExprPtr> args;
            args.push_back(std::move(base));
            args.push_back(Unary());
            return Make(Op::Pow, std::move(args));
        }
        return base;
    }

    ExprPtr Primary() {
        if (kind_ == Kind::Number) {
            auto e = Make(Op::Number);
            int64_t i = 0;
            double d = 0;
            if (token_.find_first_of(".eE") == std::string::npos || token_.rfind("0x", 0) == 0 ||
                token_.rfind("0X", 0) == 0) {
                if (!ParseInt64(token_, i))
                    throw FormulaError("bad number '" + token_ + "' in formula '" + text_ + "'");
                e->number = FormulaValue::Int(i);
            } else {
                if (!ParseDouble(token_, d))
                    throw FormulaError("bad number '" + token_ + "' in formula '" + text_ + "'");
                e->number = FormulaValue::Float(d);
            }
            Next();
            return e;
        }
        if (kind_ == Kind::Name) {
            const std::string name = token_;
            Next();
            const bool call = kind_ == Kind::Symbol && token_ == "(";
            if (!call) {
                const int variable = lookup_(name);
                if (variable >= 0) {
                    auto e = Make(Op::Variable);
                    e->variable = variable;
                    return e;
                }
            }
            const FunctionInfo* f = FindFunction(name);
            if (!f)
                throw FormulaError("unknown " + std::string(call ? "function '" : "variable '") + name +
                                   "' in formula '" + text_ + "'");
            auto e = Make(Op::Func);
            e->function = name;
            if (call) {
                Next();
                if (!Accept(")")) {
                    do
                        e->args.push_back(Ternary());
                    while (Accept(","));
                    Expect(")");
                }
            }
            const int n = static_cast<int>(e->args.size());
            if (n < f->min_args || n > f->max_args)
                throw FormulaError("wrong number of arguments for " + name + " in formula '" + text_ + "'");
            return e;
        }
        if (Accept("(")) {
            auto e = Ternary();
            Expect(")");
            return e;
        }
        throw FormulaError("unexpected " + (token_.empty() ? std::string("end") : "'" + token_ + "'") +
                           " in formula '" + text_ + "'");
    }

    const std::string& text_;
    const Formula::VariableLookup& lookup_;
    std::size_t pos_ = 0;
    Kind kind_ = Kind::End;
    std::string token_;
    int depth_ = 0;
};

int64_t Wrap(uint64_t v) { return static_cast<int64_t>(v); }

FormulaValue Bool(bool b, bool float_mode) { return float_mode ? FormulaValue::Float(b ? 1 : 0) : FormulaValue::Int(b); }

int64_t Shift(int64_t a, int64_t n, bool left) {
    if (n < 0)
        return Shift(a, -n, !left);
    if (n >= 64)
        return left ? 0 : (a < 0 ? -1 : 0);
    return left ? Wrap(static_cast<uint64_t>(a) << n) : a >> n;
}

FormulaValue Eval(const Formula::Expr& e, const Formula::VariableValue& var, bool float_mode);

FormulaValue Arg(const Formula::Expr& e, std::size_t i, const Formula::VariableValue& var, bool float_mode) {
    return Eval(*e.args[i], var, float_mode);
}

FormulaValue Function(const Formula::Expr& e, const Formula::VariableValue& var, bool float_mode) {
    const std::string& f = e.function;
    if (f == "PI")
        return FormulaValue::Float(M_PI);
    if (f == "E")
        return FormulaValue::Float(M_E);
    const FormulaValue x = Arg(e, 0, var, float_mode);
    if (f == "ABS")
        return x.is_float ? FormulaValue::Float(std::fabs(x.f)) : FormulaValue::Int(x.i < 0 ? Wrap(0 - static_cast<uint64_t>(x.i)) : x.i);
    if (f == "NEG")
        return x.is_float ? FormulaValue::Float(-x.f) : FormulaValue::Int(Wrap(0 - static_cast<uint64_t>(x.i)));
    if (f == "SGN") {
        const double d = x.AsFloat();
        const int s = d > 0 ? 1 : (d < 0 ? -1 : 0);
        return x.is_float ? FormulaValue::Float(s) : FormulaValue::Int(s);
    }
    if (!x.is_float && (f == "TRUNC" || f == "FLOOR" || f == "CEIL" || (f == "ROUND" && e.args.size() == 1)))
        return x;
    const double d = x.AsFloat();
    if (f == "TRUNC") return FormulaValue::Float(std::trunc(d));
    if (f == "FLOOR") return FormulaValue::Float(std::floor(d));
    if (f == "CEIL") return FormulaValue::Float(std::ceil(d));
    if (f == "ROUND") {
        if (e.args.size() == 2) {
            const double scale = std::pow(10.0, static_cast<double>(Arg(e, 1, var, float_mode).AsInt()));
            return FormulaValue::Float(std::round(d * scale) / scale);
        }
        return FormulaValue::Float(std::round(d));
    }
    if (f == "SQRT") return FormulaValue::Float(std::sqrt(d));
    if (f == "SIN") return FormulaValue::Float(std::sin(d));
    if (f == "COS") return FormulaValue::Float(std::cos(d));
    if (f == "TAN") return FormulaValue::Float(std::tan(d));
    if (f == "ASIN") return FormulaValue::Float(std::asin(d));
    if (f == "ACOS") return FormulaValue::Float(std::acos(d));
    if (f == "ATAN") return FormulaValue::Float(std::atan(d));
    if (f == "EXP") return FormulaValue::Float(std::exp(d));
    if (f == "LN") return FormulaValue::Float(std::log(d));
    if (f == "LG") return FormulaValue::Float(std::log10(d));
    throw FormulaError("unknown function " + f);
}

FormulaValue Eval(const Formula::Expr& e, const Formula::VariableValue& var, bool float_mode) {
    auto arith = [&](auto int_op, auto float_op) {
        const FormulaValue a = Arg(e, 0, var, float_mode);
        const FormulaValue b = Arg(e, 1, var, float_mode);
        if (a.is_float || b.is_float)
            return FormulaValue::Float(float_op(a.AsFloat(), b.AsFloat()));
        return FormulaValue::Int(int_op(a.i, b.i));
    };
    auto bits = [&](auto op) {
        const int64_t r = op(Arg(e, 0, var, float_mode).AsInt(), Arg(e, 1, var, float_mode).AsInt());
        return float_mode ? FormulaValue::Float(static_cast<double>(r)) : FormulaValue::Int(r);
    };
    auto compare = [&](auto op) {
        const FormulaValue a = Arg(e, 0, var, float_mode);
        const FormulaValue b = Arg(e, 1, var, float_mode);
        const bool r = (a.is_float || b.is_float) ? op(a.AsFloat(), b.AsFloat()) : op(a.i, b.i);
        return Bool(r, float_mode);
    };
    auto truth = [&](std::size_t i) { return Arg(e, i, var, float_mode).AsFloat() != 0; };

    switch (e.op) {
    case Op::Number:
        return float_mode ? FormulaValue::Float(e.number.AsFloat()) : e.number;
    case Op::Variable: {
        const FormulaValue v = var(e.variable);
        return float_mode ? FormulaValue::Float(v.AsFloat()) : v;
    }
    case Op::Neg: {
        const FormulaValue a = Arg(e, 0, var, float_mode);
        return a.is_float ? FormulaValue::Float(-a.f) : FormulaValue::Int(Wrap(0 - static_cast<uint64_t>(a.i)));
    }
    case Op::Plus:
        return Arg(e, 0, var, float_mode);
    case Op::BitNot: {
        const int64_t r = ~Arg(e, 0, var, float_mode).AsInt();
        return float_mode ? FormulaValue::Float(static_cast<double>(r)) : FormulaValue::Int(r);
    }
    case Op::Not:
        return Bool(!truth(0), float_mode);
    case Op::Add:
        return arith([](int64_t a, int64_t b) { return Wrap(static_cast<uint64_t>(a) + static_cast<uint64_t>(b)); },
                     [](double a, double b) { return a + b; });
    case Op::Sub:
        return arith([](int64_t a, int64_t b) { return Wrap(static_cast<uint64_t>(a) - static_cast<uint64_t>(b)); },
                     [](double a, double b) { return a - b; });
    case Op::Mul:
        return arith([](int64_t a, int64_t b) { return Wrap(static_cast<uint64_t>(a) * static_cast<uint64_t>(b)); },
                     [](double a, double b) { return a * b; });
    case Op::Div:
        return arith(
            [](int64_t a, int64_t b) {
                if (b == 0)
                    throw FormulaError("division by zero");
                return (b == -1) ? Wrap(0 - static_cast<uint64_t>(a)) : a / b;
            },
            [](double a, double b) { return a / b; });
    case Op::Mod:
        return arith(
            [](int64_t a, int64_t b) {
                if (b == 0)
                    throw FormulaError("division by zero");
                return b == -1 ? 0 : a % b;
            },
            [](double a, double b) { return std::fmod(a, b); });
    case Op::Pow: {
        const FormulaValue a = Arg(e, 0, var, float_mode);
        const FormulaValue b = Arg(e, 1, var, float_mode);
        if (a.is_float || b.is_float || b.i < 0)
            return FormulaValue::Float(std::pow(a.AsFloat(), b.AsFloat()));
        uint64_t r = 1, base = static_cast<uint64_t>(a.i);
        for (uint64_t n = static_cast<uint64_t>(b.i); n; n >>= 1, base *= base)
            if (n & 1)
                r *= base;
        return FormulaValue::Int(Wrap(r));
    }
    case Op::BitAnd: return bits([](int64_t a, int64_t b) { return a & b; });
    case Op::BitOr: return bits([](int64_t a, int64_t b) { return a | b; });
    case Op::BitXor: return bits([](int64_t a, int64_t b) { return a ^ b; });
    case Op::Shl: return bits([](int64_t a, int64_t b) { return Shift(a, b, true); });
    case Op::Shr: return bits([](int64_t a, int64_t b) { return Shift(a, b, false); });
    case Op::Eq: return compare([](auto a, auto b) { return a == b; });
    case Op::Ne: return compare([](auto a, auto b) { return a != b; });
    case Op::Lt: return compare([](auto a, auto b) { return a < b; });
    case Op::Gt: return compare([](auto a, auto b) { return a > b; });
    case Op::Le: return compare([](auto a, auto b) { return a <= b; });
    case Op::Ge: return compare([](auto a, auto b) { return a >= b; });
    case Op::And: return Bool(truth(0) && truth(1), float_mode);
    case Op::Or: return Bool(truth(0) || truth(1), float_mode);
    case Op::Cond: return truth(0) ? Arg(e, 1, var, float_mode) : Arg(e, 2, var, float_mode);
    case Op::Func: return Function(e, var, float_mode);
    }
    return FormulaValue::Int(0);
}

} // namespace

Formula::Formula() = default;
Formula::~Formula() = default;
Formula::Formula(Formula&&) noexcept = default;
Formula& Formula::operator=(Formula&&) noexcept = default;

Formula Formula::Parse(const std::string& text, const VariableLookup& lookup) {
    Formula f;
    f.root_ = Parser(text, lookup).ParseAll();
    return f;
}

FormulaValue Formula::Evaluate(const VariableValue& variable, bool float_mode) const {
    if (!root_)
        return FormulaValue::Int(0);
    return Eval(*root_, variable, float_mode);
}

} // namespace GenApi::detail
