#include "genapi/LoadContext.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include <GenICam/GCException.h>

#include "genapi/Node.h"
#include "genapi/NodeMapImpl.h"
#include "genapi/TextFormat.h"

namespace GenApi::detail {

int64_t NumberRef::Int() const {
    if (ref.node)
        return ref.node->ReadInt();
    return is_float ? ToInt64(f) : i;
}

double NumberRef::Float() const {
    if (ref.node)
        return ref.node->ReadFloat();
    return is_float ? f : static_cast<double>(i);
}

LoadContext::LoadContext(NodeMapImpl& map, std::string source_name, const char* buffer, std::size_t size)
    : map_(map), source_name_(std::move(source_name)), buffer_(buffer) {
    line_starts_.push_back(0);
    for (std::size_t i = 0; i < size; ++i)
        if (buffer_[i] == '\n')
            line_starts_.push_back(i + 1);
}

int LoadContext::LineOfOffset(std::ptrdiff_t offset) const {
    if (offset < 0)
        return 0;
    const auto it = std::upper_bound(line_starts_.begin(), line_starts_.end(), static_cast<std::size_t>(offset));
    return static_cast<int>(it - line_starts_.begin());
}

int LoadContext::LineOf(const pugi::xml_node& node) const { return LineOfOffset(node.offset_debug()); }

void LoadContext::Fail(int line, const std::string& problem) const {
    throw GenICam::RuntimeException(source_name_ + ":" + std::to_string(line) + ": " + problem, __FILE__, __LINE__);
}

void LoadContext::Warn(const std::string& kind, int line, const std::string& problem) const {
    if (!warned_.insert(kind).second)
        return;
    const std::string text = source_name_ + ":" + std::to_string(line) + ": " + problem;
    map_.load_warnings.push_back(text);
    std::fprintf(stderr, "camera description: %s\n", text.c_str());
}

void LoadContext::Fail(const pugi::xml_node& node, const std::string& problem) const { Fail(LineOf(node), problem); }

std::string LoadContext::Text(const pugi::xml_node& element) const {
    return std::string(Trim(element.child_value()));
}

int64_t LoadContext::Int(const pugi::xml_node& element) const {
    int64_t value = 0;
    const std::string text = Text(element);
    if (!ParseInt64(text, value))
        Fail(element, "bad integer '" + text + "' in <" + element.name() + ">");
    return value;
}

double LoadContext::Float(const pugi::xml_node& element) const {
    double value = 0;
    const std::string text = Text(element);
    if (!ParseDouble(text, value))
        Fail(element, "bad number '" + text + "' in <" + element.name() + ">");
    return value;
}

bool LoadContext::YesNo(const pugi::xml_node& element) const {
    return Keyword<bool>(element, {{"Yes", true}, {"No", false}});
}

NodeRef LoadContext::Ref(const pugi::xml_node& element) const {
    NodeRef ref;
    ref.name = Text(element);
    ref.line = LineOf(element);
    if (ref.name.empty())
        Fail(element, std::string("empty reference in <") + element.name() + ">");
    return ref;
}

NumberRef LoadContext::Number(const pugi::xml_node& element, bool as_float) const {
    NumberRef number;
    number.has_constant = true;
    const std::string text = Text(element);
    if (!as_float && text.find_first_of(".eE") == std::string::npos) {
        number.i = Int(element);
        number.f = static_cast<double>(number.i);
    } else if (!as_float && (text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0)) {
        number.i = Int(element);
        number.f = static_cast<double>(number.i);
    } else {
        number.is_float = true;
        number.f = Float(element);
        number.i = ToInt64(number.f);
    }
    return number;
}

void LoadContext::Resolve(NodeRef& ref, const Node& from, const char* element, bool numeric) const {
    if (!ref.IsSet())
        return;
    Node* target = map_.Find(ref.name);
    if (!target)
        Fail(ref.line, std::string("node '") + from.Name() + "': <" + element + "> refers to unknown node '" +
                           ref.name + "'");
    if (numeric && !target->IsNumeric())
        Fail(ref.line, std::string("node '") + from.Name() + "': <" + element + "> refers to node '" + ref.name +
                           "' (" + target->Tag() + "), which has no numeric value");
    ref.node = target;
}

void LoadContext::Resolve(NumberRef& ref, const Node& from, const char* element) const {
    Resolve(ref.ref, from, element, true);
}

Node& LoadContext::Add(std::unique_ptr<Node> node) const {
    if (Node* existing = map_.Find(node->Name()))
        Fail(node->Line(), "duplicate node name '" + node->Name() + "' (first defined at line " +
                               std::to_string(existing->Line()) + ")");
    Node& ref = *node;
    map_.AddNode(std::move(node));
    return ref;
}

bool IsStandardElement(const std::string& name) {
    static const std::set<std::string> kNames = {
        // every node
        "Extension", "ToolTip", "Description", "DisplayName", "Visibility", "DocuURL", "IsDeprecated", "EventID",
        "pIsImplemented", "pIsAvailable", "pIsLocked", "pBlockPolling", "ImposedAccessMode", "pError", "pAlias",
        "pCastAlias", "pInvalidator", "PollingTime", "Streamable", "Cachable",
        // values
        "pValue", "pValueCopy", "Value", "pIndex", "ValueIndexed", "pValueIndexed", "ValueDefault",
        "pValueDefault", "Min", "pMin", "Max", "pMax", "Inc", "pInc", "IncMode", "ValidValueSet",
        "pValidValueSet", "Unit", "Representation", "DisplayNotation", "DisplayPrecision", "pSelected",
        "IsSelfClearing", "NumericValue", "Symbolic", "EnumEntry", "OnValue", "OffValue", "CommandValue",
        "pCommandValue", "MaxLength", "pFeature",
        // registers and ports
        "Address", "IntSwissKnife", "pAddress", "Length", "pLength", "AccessMode", "pPort", "Sign", "Endianess",
        "LSB", "MSB", "Bit", "Mask", "ChunkID", "pChunkID", "SwapEndianess", "CacheChunkData", "StructEntry",
        "pVariable", "Constant", "Expression", "Formula", "FormulaTo", "FormulaFrom", "Slope", "IsLinear",
        "pTerminal"};
    return kNames.count(name) != 0;
}

} // namespace GenApi::detail
