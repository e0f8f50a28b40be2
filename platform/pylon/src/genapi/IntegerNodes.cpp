#include "genapi/IntegerNodes.h"

#include <cinttypes>
#include <cmath>
#include <limits>

#include <GenICam/GCException.h>

#include "genapi/TextFormat.h"

namespace GenApi::detail {

ERepresentation ReadRepresentation(const pugi::xml_node& element, LoadContext& ctx) {
    return ctx.Keyword<ERepresentation>(element, {{"Linear", Linear},
                                                  {"Logarithmic", Logarithmic},
                                                  {"Boolean", Boolean},
                                                  {"PureNumber", PureNumber},
                                                  {"HexNumber", HexNumber},
                                                  {"IPV4Address", IPV4Address},
                                                  {"MACAddress", MACAddress}});
}

// ---- Integer -----------------------------------------------------------------------------

bool IntegerNode::ReadElement(const pugi::xml_node& element, LoadContext& ctx) {
    if (Node::ReadElement(element, ctx) || value_.ReadElement(element, ctx))
        return true;
    const std::string tag = element.name();
    if (tag == "Min")
        min_ = ctx.Number(element, false);
    else if (tag == "Max")
        max_ = ctx.Number(element, false);
    else if (tag == "Inc")
        inc_ = ctx.Number(element, false);
    else if (tag == "pMin")
        min_.ref = ctx.Ref(element);
    else if (tag == "pMax")
        max_.ref = ctx.Ref(element);
    else if (tag == "pInc")
        inc_.ref = ctx.Ref(element);
    else if (tag == "Unit")
        unit_ = ctx.Text(element);
    else if (tag == "Representation")
        representation_ = ReadRepresentation(element, ctx);
    else
        return false;
    return true;
}

void IntegerNode::Resolve(LoadContext& ctx) {
    Node::Resolve(ctx);
    value_.Resolve(ctx);
    ctx.Resolve(min_, *this, "pMin");
    ctx.Resolve(max_, *this, "pMax");
    ctx.Resolve(inc_, *this, "pInc");
    if (inc_.has_constant && inc_.i <= 0)
        ctx.Fail(Line(), "node '" + Name() + "': increment must be positive");
}

void IntegerNode::CollectReferences(std::vector<Node*>& out) const {
    Node::CollectReferences(out);
    value_.CollectReferences(out);
    for (const NumberRef* ref : {&min_, &max_, &inc_})
        if (ref->ref.node)
            out.push_back(ref->ref.node);
}

EAccessMode IntegerNode::NativeAccess() const {
    Node* target = value_.TargetNow();
    return target ? target->GetAccessMode() : RW;
}

int64_t IntegerNode::GetMin() {
    std::lock_guard<NodeMapLock> guard(map_.Lock());
    return min_.IsSet() ? min_.Int() : std::numeric_limits<int64_t>::min();
}

int64_t IntegerNode::GetMax() {
    std::lock_guard<NodeMapLock> guard(map_.Lock());
    return max_.IsSet() ? max_.Int() : std::numeric_limits<int64_t>::max();
}

EIncMode IntegerNode::GetIncMode() { return fixedIncrement; }

int64_t IntegerNode::GetInc() {
    std::lock_guard<NodeMapLock> guard(map_.Lock());
    const int64_t inc = inc_.IsSet() ? inc_.Int() : 1;
    return inc > 0 ? inc : 1;
}

void IntegerNode::CheckValue(int64_t value) {
    const int64_t min = GetMin();
    const int64_t max = GetMax();
    if (value < min || value > max)
        throw OUT_OF_RANGE_EXCEPTION("Value %" PRId64 " of node '%s' is out of range: minimum %" PRId64
                                     ", maximum %" PRId64,
                                     value, Name().c_str(), min, max);
    const int64_t inc = GetInc();
    if (inc > 1) {
        // Steps count from the minimum, or from 0 when there is no minimum.
        const int64_t base = min_.IsSet() ? min : 0;
        const uint64_t offset = value >= base ? static_cast<uint64_t>(value) - static_cast<uint64_t>(base)
                                              : static_cast<uint64_t>(base) - static_cast<uint64_t>(value);
        if (offset % static_cast<uint64_t>(inc) != 0)
            throw INVALID_ARGUMENT_EXCEPTION("Value %" PRId64 " of node '%s' does not fit the increment %" PRId64
                                             " from the minimum %" PRId64,
                                             value, Name().c_str(), inc, min);
    }
}

void IntegerNode::SetValue(int64_t Value, bool Verify) {
    ClientWrite(Verify, [&] { CheckValue(Value); }, [&] { value_.WriteInt(Value, std::nullopt); });
}

int64_t IntegerNode::GetValue(bool, bool IgnoreCache) {
    std::lock_guard<NodeMapLock> guard(map_.Lock());
    NodeMapImpl::CacheBypass bypass(map_, IgnoreCache);
    CheckReadable();
    return value_.ReadInt(std::nullopt);
}

void IntegerNode::WriteFloat(double value, std::optional<int64_t> at) {
    value_.WriteInt(ToInt64(std::round(value)), at);
}

std::string IntegerNode::ReadText(std::optional<int64_t> at) {
    const int64_t value = value_.ReadInt(at);
    if (representation_ == HexNumber) {
        char buffer[24];
        std::snprintf(buffer, sizeof buffer, "0x%" PRIx64, static_cast<uint64_t>(value));
        return buffer;
    }
    return std::to_string(value);
}

namespace {
int64_t ParseIntegerText(const std::string& text, const std::string& node) {
    int64_t value = 0;
    if (!ParseInt64(text, value))
        throw INVALID_ARGUMENT_EXCEPTION("Node '%s': '%s' is not an integer", node.c_str(), text.c_str());
    return value;
}
} // namespace

void IntegerNode::WriteText(const std::string& text, std::optional<int64_t> at) {
    value_.WriteInt(ParseIntegerText(text, Name()), at);
}

void IntegerNode::ClientFromString(const std::string& text, bool verify) {
    SetValue(ParseIntegerText(text, Name()), verify);
}

// ---- IntSwissKnife -----------------------------------------------------------------------

bool IntSwissKnifeNode::ReadElement(const pugi::xml_node& element, LoadContext& ctx) {
    if (Node::ReadElement(element, ctx) || formula_.ReadElement(element, ctx))
        return true;
    const std::string tag = element.name();
    if (tag == "Unit")
        unit_ = ctx.Text(element);
    else if (tag == "Representation")
        representation_ = ReadRepresentation(element, ctx);
    else
        return false;
    return true;
}

void IntSwissKnifeNode::Resolve(LoadContext& ctx) {
    Node::Resolve(ctx);
    formula_.Resolve(ctx);
}

void IntSwissKnifeNode::CollectReferences(std::vector<Node*>& out) const {
    Node::CollectReferences(out);
    formula_.CollectReferences(out);
}

int64_t IntSwissKnifeNode::ReadInt(std::optional<int64_t>) { return formula_.Evaluate(false).AsInt(); }

void IntSwissKnifeNode::SetValue(int64_t, bool) {
    throw ACCESS_EXCEPTION("Node '%s' is not writable", Name().c_str());
}

int64_t IntSwissKnifeNode::GetValue(bool, bool IgnoreCache) {
    std::lock_guard<NodeMapLock> guard(map_.Lock());
    NodeMapImpl::CacheBypass bypass(map_, IgnoreCache);
    CheckReadable();
    return ReadInt();
}

int64_t IntSwissKnifeNode::GetMin() { return std::numeric_limits<int64_t>::min(); }
int64_t IntSwissKnifeNode::GetMax() { return std::numeric_limits<int64_t>::max(); }

} // namespace GenApi::detail
