#include "genapi/FloatNodes.h"

#include <cfloat>
#include <cmath>

#include <GenICam/GCException.h>

#include "genapi/IntegerNodes.h"
#include "genapi/TextFormat.h"

namespace GenApi::detail {

bool FloatDisplay::ReadElement(const pugi::xml_node& element, LoadContext& ctx) {
    const std::string tag = element.name();
    if (tag == "Unit")
        unit = ctx.Text(element);
    else if (tag == "Representation")
        representation = ReadRepresentation(element, ctx);
    else if (tag == "DisplayNotation")
        notation = ctx.Keyword<EDisplayNotation>(
            element, {{"Automatic", fnAutomatic}, {"Fixed", fnFixed}, {"Scientific", fnScientific}});
    else if (tag == "DisplayPrecision")
        precision = ctx.Int(element);
    else
        return false;
    return true;
}

namespace {
double ParseFloatText(const std::string& text, const std::string& node) {
    double value = 0;
    if (!ParseDouble(text, value))
        throw INVALID_ARGUMENT_EXCEPTION("Node '%s': '%s' is not a number", node.c_str(), text.c_str());
    return value;
}

int64_t ToInt(double value) {
    if (!std::isfinite(value) || std::fabs(value) >= 9.2e18)
        return value < 0 ? INT64_MIN : INT64_MAX;
    return static_cast<int64_t>(std::llround(value));
}
} // namespace

// ---- Float -------------------------------------------------------------------------------

bool FloatNode::ReadElement(const pugi::xml_node& element, LoadContext& ctx) {
    if (Node::ReadElement(element, ctx) || value_.ReadElement(element, ctx) || display_.ReadElement(element, ctx))
        return true;
    const std::string tag = element.name();
    if (tag == "Min")
        min_ = ctx.Number(element, true);
    else if (tag == "Max")
        max_ = ctx.Number(element, true);
    else if (tag == "Inc")
        inc_ = ctx.Number(element, true);
    else if (tag == "pMin")
        min_.ref = ctx.Ref(element);
    else if (tag == "pMax")
        max_.ref = ctx.Ref(element);
    else if (tag == "pInc")
        inc_.ref = ctx.Ref(element);
    else
        return false;
    return true;
}

void FloatNode::Resolve(LoadContext& ctx) {
    Node::Resolve(ctx);
    value_.Resolve(ctx);
    ctx.Resolve(min_, *this, "pMin");
    ctx.Resolve(max_, *this, "pMax");
    ctx.Resolve(inc_, *this, "pInc");
    if (inc_.has_constant && !(inc_.f > 0))
        ctx.Fail(Line(), "node '" + Name() + "': increment must be positive");
}

void FloatNode::CollectReferences(std::vector<Node*>& out) const {
    Node::CollectReferences(out);
    value_.CollectReferences(out);
    for (const NumberRef* ref : {&min_, &max_, &inc_})
        if (ref->ref.node)
            out.push_back(ref->ref.node);
}

EAccessMode FloatNode::NativeAccess() const {
    Node* target = value_.TargetNow();
    return target ? target->GetAccessMode() : RW;
}

double FloatNode::GetMin() {
    std::lock_guard<NodeMapLock> guard(map_.Lock());
    return min_.IsSet() ? min_.Float() : -DBL_MAX;
}

double FloatNode::GetMax() {
    std::lock_guard<NodeMapLock> guard(map_.Lock());
    return max_.IsSet() ? max_.Float() : DBL_MAX;
}

double FloatNode::GetInc() {
    std::lock_guard<NodeMapLock> guard(map_.Lock());
    return inc_.IsSet() ? inc_.Float() : 0;
}

void FloatNode::CheckValue(double value) {
    const double min = GetMin();
    const double max = GetMax();
    if (std::isnan(value) || value < min || value > max)
        throw OUT_OF_RANGE_EXCEPTION("Value %s of node '%s' is out of range: minimum %s, maximum %s",
                                     FormatDouble(value).c_str(), Name().c_str(), FormatDouble(min).c_str(),
                                     FormatDouble(max).c_str());
    const double inc = GetInc();
    if (inc > 0) {
        const double steps = (value - (min_.IsSet() ? min : 0.0)) / inc;
        if (std::fabs(steps - std::round(steps)) > 1e-6 * std::max(1.0, std::fabs(steps)))
            throw INVALID_ARGUMENT_EXCEPTION("Value %s of node '%s' does not fit the increment %s from the minimum %s",
                                             FormatDouble(value).c_str(), Name().c_str(), FormatDouble(inc).c_str(),
                                             FormatDouble(min).c_str());
    }
}

void FloatNode::SetValue(double Value, bool Verify) {
    ClientWrite(Verify, [&] { CheckValue(Value); }, [&] { value_.WriteFloat(Value, std::nullopt); });
}

double FloatNode::GetValue(bool, bool IgnoreCache) {
    std::lock_guard<NodeMapLock> guard(map_.Lock());
    NodeMapImpl::CacheBypass bypass(map_, IgnoreCache);
    CheckReadable();
    return value_.ReadFloat(std::nullopt);
}

int64_t FloatNode::ReadInt(std::optional<int64_t> at) { return ToInt(value_.ReadFloat(at)); }

std::string FloatNode::ReadText(std::optional<int64_t> at) { return FormatDouble(value_.ReadFloat(at)); }

void FloatNode::WriteText(const std::string& text, std::optional<int64_t> at) {
    value_.WriteFloat(ParseFloatText(text, Name()), at);
}

void FloatNode::ClientFromString(const std::string& text, bool verify) {
    SetValue(ParseFloatText(text, Name()), verify);
}

// ---- SwissKnife --------------------------------------------------------------------------

bool SwissKnifeNode::ReadElement(const pugi::xml_node& element, LoadContext& ctx) {
    return Node::ReadElement(element, ctx) || formula_.ReadElement(element, ctx) ||
           display_.ReadElement(element, ctx);
}

void SwissKnifeNode::Resolve(LoadContext& ctx) {
    Node::Resolve(ctx);
    formula_.Resolve(ctx);
}

void SwissKnifeNode::CollectReferences(std::vector<Node*>& out) const {
    Node::CollectReferences(out);
    formula_.CollectReferences(out);
}

double SwissKnifeNode::ReadFloat(std::optional<int64_t>) { return formula_.Evaluate(true).AsFloat(); }

int64_t SwissKnifeNode::ReadInt(std::optional<int64_t>) { return ToInt(ReadFloat()); }

std::string SwissKnifeNode::ReadText(std::optional<int64_t>) { return FormatDouble(ReadFloat()); }

void SwissKnifeNode::SetValue(double, bool) { throw ACCESS_EXCEPTION("Node '%s' is not writable", Name().c_str()); }

double SwissKnifeNode::GetValue(bool, bool IgnoreCache) {
    std::lock_guard<NodeMapLock> guard(map_.Lock());
    NodeMapImpl::CacheBypass bypass(map_, IgnoreCache);
    CheckReadable();
    return ReadFloat();
}

double SwissKnifeNode::GetMin() { return -DBL_MAX; }
double SwissKnifeNode::GetMax() { return DBL_MAX; }

} // namespace GenApi::detail
