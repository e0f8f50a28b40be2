#include "genapi/EnumerationNodes.h"

#include <cinttypes>

#include <GenICam/GCException.h>

#include "genapi/TextFormat.h"

namespace GenApi::detail {

// ---- EnumEntry ---------------------------------------------------------------------------

EnumEntryNode::EnumEntryNode(NodeMapImpl& map, std::string name, int line, EnumerationNode& owner)
    : Node(map, std::move(name), line), owner_(owner) {
    // GenICam names entries EnumEntry_<Enumeration>_<Symbolic>.
    const std::string prefix = "EnumEntry_" + owner.Name() + "_";
    symbolic_ = Name().rfind(prefix, 0) == 0 && Name().size() > prefix.size() ? Name().substr(prefix.size()) : Name();
}

bool EnumEntryNode::ReadElement(const pugi::xml_node& element, LoadContext& ctx) {
    if (Node::ReadElement(element, ctx))
        return true;
    const std::string tag = element.name();
    if (tag == "Value") {
        value_ = ctx.Int(element);
        has_value_ = true;
    } else if (tag == "NumericValue") {
        numeric_ = ctx.Float(element);
        has_numeric_ = true;
    } else if (tag == "Symbolic") {
        symbolic_ = ctx.Text(element);
    } else if (tag == "IsSelfClearing") {
        self_clearing_ = ctx.YesNo(element);
    } else {
        return false;
    }
    return true;
}

// ---- Enumeration -------------------------------------------------------------------------

bool EnumerationNode::ReadElement(const pugi::xml_node& element, LoadContext& ctx) {
    if (Node::ReadElement(element, ctx) || value_.ReadElement(element, ctx))
        return true;
    if (std::string(element.name()) != "EnumEntry")
        return false;
    const std::string name = element.attribute("Name").value();
    if (name.empty())
        ctx.Fail(element, "EnumEntry of enumeration '" + Name() + "' without Name attribute");
    // Entry names belong to their enumeration: in the node map an entry is
    // EnumEntry_<Enumeration>_<Name>, so two enumerations may both have a "Line1" or "Off".
    const std::string prefix = "EnumEntry_" + Name() + "_";
    const std::string node_name = name.rfind(prefix, 0) == 0 ? name : prefix + name;
    auto entry = std::make_unique<EnumEntryNode>(map_, node_name, ctx.LineOf(element), *this);
    entry->Load(element, ctx);
    if (!entry->has_value_)
        ctx.Fail(element, "EnumEntry '" + name + "' has no <Value>");
    for (const EnumEntryNode* other : entries_) {
        if (other->symbolic_ == entry->symbolic_)
            ctx.Fail(element, "enumeration '" + Name() + "' has two entries named '" + entry->symbolic_ + "'");
        if (other->value_ == entry->value_)
            ctx.Fail(element, "enumeration '" + Name() + "': entries '" + other->symbolic_ + "' and '" +
                                  entry->symbolic_ + "' have the same value");
    }
    entries_.push_back(entry.get());
    ctx.Add(std::move(entry));
    return true;
}

void EnumerationNode::Resolve(LoadContext& ctx) {
    Node::Resolve(ctx);
    value_.Resolve(ctx);
    if (entries_.empty())
        ctx.Fail(Line(), "enumeration '" + Name() + "' has no entries");
    // Without a value of its own, an enumeration starts at its first entry.
    if (!value_.HasValueElement())
        value_.SetInitialInt(entries_.front()->value_);
}

void EnumerationNode::CollectReferences(std::vector<Node*>& out) const {
    Node::CollectReferences(out);
    value_.CollectReferences(out);
    out.insert(out.end(), entries_.begin(), entries_.end());
}

EAccessMode EnumerationNode::NativeAccess() const {
    Node* target = value_.TargetNow();
    return target ? target->GetAccessMode() : RW;
}

EnumEntryNode* EnumerationNode::FindEntry(int64_t value) const {
    for (EnumEntryNode* entry : entries_)
        if (entry->value_ == value)
            return entry;
    return nullptr;
}

EnumEntryNode* EnumerationNode::FindEntry(const std::string& symbolic) const {
    for (EnumEntryNode* entry : entries_)
        if (entry->symbolic_ == symbolic)
            return entry;
    return nullptr;
}

void EnumerationNode::GetSymbolics(StringList_t& Symbolics) {
    std::lock_guard<NodeMapLock> guard(map_.Lock());
    Symbolics.clear();
    for (EnumEntryNode* entry : entries_)
        if (IsAvailable(entry->GetAccessMode()))
            Symbolics.push_back(entry->symbolic_);
}

void EnumerationNode::GetEntries(NodeList_t& Entries) {
    Entries.assign(entries_.begin(), entries_.end());
}

void EnumerationNode::WriteEntry(EnumEntryNode& entry, bool verify) {
    ClientWrite(
        verify,
        [&] {
            if (!IsAvailable(entry.GetAccessMode()))
                throw ACCESS_EXCEPTION("Entry '%s' of node '%s' is not available", entry.symbolic_.c_str(),
                                       Name().c_str());
        },
        [&] { value_.WriteInt(entry.value_, std::nullopt); });
}

void EnumerationNode::SetIntValue(int64_t Value, bool Verify) {
    EnumEntryNode* entry = FindEntry(Value);
    if (!entry)
        throw INVALID_ARGUMENT_EXCEPTION("Node '%s' has no entry with the value %" PRId64, Name().c_str(), Value);
    WriteEntry(*entry, Verify);
}

void EnumerationNode::ClientFromString(const std::string& text, bool verify) {
    EnumEntryNode* entry = FindEntry(std::string(Trim(text)));
    if (!entry)
        throw INVALID_ARGUMENT_EXCEPTION("Node '%s' has no entry '%s'", Name().c_str(), text.c_str());
    WriteEntry(*entry, verify);
}

int64_t EnumerationNode::GetIntValue(bool, bool IgnoreCache) {
    std::lock_guard<NodeMapLock> guard(map_.Lock());
    NodeMapImpl::CacheBypass bypass(map_, IgnoreCache);
    CheckReadable();
    return value_.ReadInt(std::nullopt);
}

IEnumEntry* EnumerationNode::GetEntryByName(const gcstring& Symbolic) { return FindEntry(Symbolic); }

IEnumEntry* EnumerationNode::GetEntry(int64_t IntValue) { return FindEntry(IntValue); }

IEnumEntry* EnumerationNode::GetCurrentEntry(bool, bool IgnoreCache) {
    std::lock_guard<NodeMapLock> guard(map_.Lock());
    NodeMapImpl::CacheBypass bypass(map_, IgnoreCache);
    CheckReadable();
    return FindEntry(value_.ReadInt(std::nullopt));
}

double EnumerationNode::ReadFloat(std::optional<int64_t> at) {
    // Formulas see the entry's integer value, in float formulas as in integer ones.
    return static_cast<double>(value_.ReadInt(at));
}

void EnumerationNode::WriteFloat(double value, std::optional<int64_t> at) {
    value_.WriteInt(ToInt64(value), at);
}

std::string EnumerationNode::ReadText(std::optional<int64_t> at) {
    const int64_t value = value_.ReadInt(at);
    EnumEntryNode* entry = FindEntry(value);
    // A value without entry (set by the camera side) shows as its number.
    return entry ? entry->symbolic_ : std::to_string(value);
}

void EnumerationNode::WriteText(const std::string& text, std::optional<int64_t> at) {
    if (EnumEntryNode* entry = FindEntry(std::string(Trim(text)))) {
        value_.WriteInt(entry->value_, at);
        return;
    }
    int64_t value = 0;
    if (!ParseInt64(text, value))
        throw INVALID_ARGUMENT_EXCEPTION("Node '%s' has no entry '%s'", Name().c_str(), text.c_str());
    value_.WriteInt(value, at);
}

} // namespace GenApi::detail
