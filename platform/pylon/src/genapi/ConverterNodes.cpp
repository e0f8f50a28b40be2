#include "genapi/ConverterNodes.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <limits>

#include <GenICam/GCException.h>

#include "genapi/TextFormat.h"

namespace GenApi::detail {

// ---- ConverterBase -----------------------------------------------------------------------

bool ConverterBase::ReadElement(const pugi::xml_node& element, LoadContext& ctx) {
    if (Node::ReadElement(element, ctx) || formula_.ReadElement(element, ctx) || display_.ReadElement(element, ctx))
        return true;
    const std::string tag = element.name();
    if (tag == "pValue")
        value_ = ctx.Ref(element);
    else if (tag == "Slope")
        slope_ = ctx.Keyword<Slope>(element, {{"Automatic", Slope::Automatic},
                                              {"Increasing", Slope::Increasing},
                                              {"Decreasing", Slope::Decreasing},
                                              {"Varying", Slope::Varying}});
    else
        return false;
    return true;
}

void ConverterBase::Resolve(LoadContext& ctx) {
    Node::Resolve(ctx);
    formula_.Resolve(ctx);
    if (!value_.IsSet())
        ctx.Fail(Line(), std::string(Tag()) + " '" + Name() + "' has no <pValue>");
    ctx.Resolve(value_, *this, "pValue", true);
}

void ConverterBase::CollectReferences(std::vector<Node*>& out) const {
    Node::CollectReferences(out);
    CollectValueReferences(out);
}

void ConverterBase::CollectValueReferences(std::vector<Node*>& out) const {
    formula_.CollectReferences(out);
    if (value_.node)
        out.push_back(value_.node);
}

FormulaValue ConverterBase::FromTarget(FormulaValue to, bool float_mode) {
    return formula_.Evaluate(float_mode, 1, to);
}

FormulaValue ConverterBase::Convert(bool float_mode) {
    EvaluationDepth depth(*this);
    Node& target = *value_.node;
    const FormulaValue to = IsFloatValued(target) ? FormulaValue::Float(target.ReadFloat())
                                                  : FormulaValue::Int(target.ReadInt());
    return FromTarget(to, float_mode);
}

void ConverterBase::ConvertBack(FormulaValue from, bool float_mode) {
    EvaluationDepth depth(*this);
    const FormulaValue to = formula_.Evaluate(float_mode, 0, from);
    if (to.is_float)
        value_.node->WriteFloat(to.f);
    else
        value_.node->WriteInt(to.i);
}

std::pair<double, double> ConverterBase::Limits(bool float_mode) {
    double lo = -std::numeric_limits<double>::infinity(), hi = std::numeric_limits<double>::infinity();
    if (auto* i = dynamic_cast<IInteger*>(value_.node)) {
        lo = FromTarget(FormulaValue::Int(i->GetMin()), float_mode).AsFloat();
        hi = FromTarget(FormulaValue::Int(i->GetMax()), float_mode).AsFloat();
    } else if (auto* f = dynamic_cast<IFloat*>(value_.node)) {
        lo = FromTarget(FormulaValue::Float(f->GetMin()), float_mode).AsFloat();
        hi = FromTarget(FormulaValue::Float(f->GetMax()), float_mode).AsFloat();
    }
    if (slope_ == Slope::Decreasing || (slope_ != Slope::Increasing && lo > hi))
        std::swap(lo, hi);
    return {lo, hi};
}

// ---- Converter ---------------------------------------------------------------------------

double ConverterNode::GetMin() {
    std::lock_guard<NodeMapLock> guard(map_.Lock());
    return Limits(true).first;
}

double ConverterNode::GetMax() {
    std::lock_guard<NodeMapLock> guard(map_.Lock());
    return Limits(true).second;
}

void ConverterNode::SetValue(double Value, bool Verify) {
    ClientWrite(
        Verify,
        [&] {
            const auto [min, max] = Limits(true);
            if (std::isnan(Value) || Value < min || Value > max)
                throw OUT_OF_RANGE_EXCEPTION("Value %s of node '%s' is out of range: minimum %s, maximum %s",
                                             FormatDouble(Value).c_str(), Name().c_str(), FormatDouble(min).c_str(),
                                             FormatDouble(max).c_str());
        },
        [&] { ConvertBack(FormulaValue::Float(Value), true); });
}

double ConverterNode::GetValue(bool, bool IgnoreCache) {
    std::lock_guard<NodeMapLock> guard(map_.Lock());
    NodeMapImpl::CacheBypass bypass(map_, IgnoreCache);
    CheckReadable();
    return ReadFloat();
}

int64_t ConverterNode::ReadInt(std::optional<int64_t>) {
    const double value = ReadFloat();
    return std::isfinite(value) && std::fabs(value) < 9.2e18 ? std::llround(value) : 0;
}

std::string ConverterNode::ReadText(std::optional<int64_t>) { return FormatDouble(ReadFloat()); }

namespace {
double FloatText(const std::string& text, const std::string& node) {
    double value = 0;
    if (!ParseDouble(text, value))
        throw INVALID_ARGUMENT_EXCEPTION("Node '%s': '%s' is not a number", node.c_str(), text.c_str());
    return value;
}
int64_t IntText(const std::string& text, const std::string& node) {
    int64_t value = 0;
    if (!ParseInt64(text, value))
        throw INVALID_ARGUMENT_EXCEPTION("Node '%s': '%s' is not an integer", node.c_str(), text.c_str());
    return value;
}
} // namespace

void ConverterNode::WriteText(const std::string& text, std::optional<int64_t> at) {
    WriteFloat(FloatText(text, Name()), at);
}

void ConverterNode::ClientFromString(const std::string& text, bool verify) { SetValue(FloatText(text, Name()), verify); }

// ---- IntConverter ------------------------------------------------------------------------

int64_t IntConverterNode::GetMin() {
    std::lock_guard<NodeMapLock> guard(map_.Lock());
    return ToInt64(std::ceil(Limits(false).first));
}

int64_t IntConverterNode::GetMax() {
    std::lock_guard<NodeMapLock> guard(map_.Lock());
    return ToInt64(std::floor(Limits(false).second));
}

void IntConverterNode::SetValue(int64_t Value, bool Verify) {
    ClientWrite(
        Verify,
        [&] {
            const int64_t min = GetMin(), max = GetMax();
            if (Value < min || Value > max)
                throw OUT_OF_RANGE_EXCEPTION("Value %" PRId64 " of node '%s' is out of range: minimum %" PRId64
                                             ", maximum %" PRId64,
                                             Value, Name().c_str(), min, max);
        },
        [&] { ConvertBack(FormulaValue::Int(Value), false); });
}

int64_t IntConverterNode::GetValue(bool, bool IgnoreCache) {
    std::lock_guard<NodeMapLock> guard(map_.Lock());
    NodeMapImpl::CacheBypass bypass(map_, IgnoreCache);
    CheckReadable();
    return ReadInt();
}

void IntConverterNode::WriteFloat(double value, std::optional<int64_t> at) {
    WriteInt(std::isfinite(value) && std::fabs(value) < 9.2e18 ? std::llround(value) : 0, at);
}

void IntConverterNode::WriteText(const std::string& text, std::optional<int64_t> at) {
    WriteInt(IntText(text, Name()), at);
}

void IntConverterNode::ClientFromString(const std::string& text, bool verify) { SetValue(IntText(text, Name()), verify); }

} // namespace GenApi::detail
