#include "genapi/ValueSource.h"

#include <cmath>

#include "genapi/Node.h"
#include "genapi/TextFormat.h"

namespace GenApi::detail {

void ValueSource::ReadConstant(Slot& slot, const pugi::xml_node& element, LoadContext& ctx) const {
    switch (storage_) {
    case Storage::Int: {
        bool flag = false;
        const std::string text = ctx.Text(element);
        if (!ParseInt64(text, slot.i)) {
            if (!ParseBool(text, flag))
                ctx.Fail(element, "node '" + owner_.Name() + "': bad integer '" + text + "' in <" + element.name() + ">");
            slot.i = flag ? 1 : 0;
        }
        slot.f = static_cast<double>(slot.i);
        break;
    }
    case Storage::Float:
        slot.f = ctx.Float(element);
        slot.i = ToInt64(slot.f);
        break;
    case Storage::String:
        slot.s = element.child_value();
        break;
    }
}

bool ValueSource::ReadElement(const pugi::xml_node& element, LoadContext& ctx) {
    const std::string tag = element.name();
    auto index_of = [&] {
        const auto attribute = element.attribute("Index");
        int64_t index = 0;
        if (!attribute || !ParseInt64(attribute.value(), index))
            ctx.Fail(element, "node '" + owner_.Name() + "': <" + tag + "> needs a numeric Index attribute");
        if (indexed_.count(index))
            ctx.Fail(element, "node '" + owner_.Name() + "': index " + std::to_string(index) + " given twice");
        return index;
    };
    if (tag == "Value") {
        ReadConstant(direct_, element, ctx);
        has_value_ = true;
    } else if (tag == "pValue") {
        direct_.target = ctx.Ref(element);
        has_value_ = true;
    } else if (tag == "pIndex") {
        index_ = ctx.Ref(element);
        has_value_ = true;
    } else if (tag == "ValueIndexed") {
        const int64_t index = index_of();
        ReadConstant(indexed_[index], element, ctx);
    } else if (tag == "pValueIndexed") {
        const int64_t index = index_of();
        indexed_[index].target = ctx.Ref(element);
    } else if (tag == "ValueDefault") {
        ReadConstant(fallback_, element, ctx);
    } else if (tag == "pValueDefault") {
        fallback_.target = ctx.Ref(element);
    } else {
        return false;
    }
    return true;
}

void ValueSource::Resolve(LoadContext& ctx) {
    const bool numeric = storage_ != Storage::String;
    if (!indexed_.empty() && !index_.IsSet())
        ctx.Fail(owner_.Line(), "node '" + owner_.Name() + "': indexed values without <pIndex>");
    ctx.Resolve(direct_.target, owner_, "pValue", numeric);
    ctx.Resolve(index_, owner_, "pIndex", true);
    for (auto& [index, slot] : indexed_)
        ctx.Resolve(slot.target, owner_, "pValueIndexed", numeric);
    ctx.Resolve(fallback_.target, owner_, "pValueDefault", numeric);
}

void ValueSource::CollectValueReferences(std::vector<Node*>& out) const {
    // The index is read on every access, so it counts as part of the value.
    if (index_.node)
        out.push_back(index_.node);
    if (direct_.target.node)
        out.push_back(direct_.target.node);
    for (const auto& [index, slot] : indexed_)
        if (slot.target.node)
            out.push_back(slot.target.node);
    if (fallback_.target.node)
        out.push_back(fallback_.target.node);
}

void ValueSource::CollectReferences(std::vector<Node*>& out) const { CollectValueReferences(out); }

ValueSource::Slot& ValueSource::Select(std::optional<int64_t> at, bool for_write) {
    if (!index_.node)
        return direct_;
    const int64_t index = at ? *at : index_.node->ReadInt();
    const auto it = indexed_.find(index);
    if (it != indexed_.end())
        return it->second;
    if (!for_write)
        return fallback_;
    // The first write of an index without its own value gives it one, starting from the default.
    return indexed_.emplace(index, fallback_).first->second;
}

Node* ValueSource::TargetNow() { return Select(std::nullopt, false).target.node; }

void ValueSource::Stored(Slot&) { owner_.Map().MarkChanged(owner_); }

int64_t ValueSource::ReadInt(std::optional<int64_t> at) {
    Slot& slot = Select(at, false);
    if (slot.target.node) {
        EvaluationDepth depth(owner_);
        return slot.target.node->ReadInt();
    }
    if (storage_ == Storage::Float)
        return ToInt64(slot.f);
    return slot.i;
}

double ValueSource::ReadFloat(std::optional<int64_t> at) {
    Slot& slot = Select(at, false);
    if (slot.target.node) {
        EvaluationDepth depth(owner_);
        return slot.target.node->ReadFloat();
    }
    if (storage_ == Storage::Float)
        return slot.f;
    return static_cast<double>(slot.i);
}

std::string ValueSource::ReadString(std::optional<int64_t> at) {
    Slot& slot = Select(at, false);
    if (slot.target.node) {
        EvaluationDepth depth(owner_);
        return slot.target.node->ReadText();
    }
    return slot.s;
}

void ValueSource::WriteInt(int64_t value, std::optional<int64_t> at) {
    Slot& slot = Select(at, true);
    if (slot.target.node) {
        slot.target.node->WriteInt(value);
        return;
    }
    slot.i = value;
    slot.f = static_cast<double>(value);
    Stored(slot);
}

void ValueSource::WriteFloat(double value, std::optional<int64_t> at) {
    Slot& slot = Select(at, true);
    if (slot.target.node) {
        slot.target.node->WriteFloat(value);
        return;
    }
    slot.f = value;
    slot.i = ToInt64(value);
    Stored(slot);
}

void ValueSource::WriteString(const std::string& value, std::optional<int64_t> at) {
    Slot& slot = Select(at, true);
    if (slot.target.node) {
        slot.target.node->WriteText(value);
        return;
    }
    slot.s = value;
    Stored(slot);
}

} // namespace GenApi::detail
