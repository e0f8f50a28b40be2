#include "persistence/FeatureWalk.h"

#include <deque>
#include <set>

#include <GenApi/Pointer.h>

#include "persistence/ValueText.h"

namespace Pylon::persistence {

using namespace GenApi;

namespace {

bool EndsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

void Walk(INode* node, std::set<INode*>& seen, std::vector<INode*>& out) {
    if (!node || !seen.insert(node).second)
        return;
    if (auto* category = dynamic_cast<ICategory*>(node)) {
        FeatureList_t children;
        category->GetFeatures(children);
        for (IValue* child : children)
            if (child)
                Walk(child->GetNode(), seen, out);
        return;
    }
    if (node->IsStreamable() && KindOf(node) != ValueKind::None)
        out.push_back(node);
}

} // namespace

std::vector<INode*> StreamableFeatures(INodeMap& map) {
    std::vector<INode*> out;
    std::set<INode*> seen;
    Walk(map.GetNode("Root"), seen, out);
    return out;
}

IEnumeration* SelectorOf(INode* feature) {
    // Breadth first, so the nearest selector wins.
    std::set<INode*> seen{feature};
    std::deque<INode*> queue{feature};
    while (!queue.empty()) {
        INode* node = queue.front();
        queue.pop_front();
        NodeList_t children;
        node->GetChildren(children);
        for (INode* child : children) {
            if (!child || !seen.insert(child).second)
                continue;
            if (auto* selector = dynamic_cast<IEnumeration*>(child); selector && EndsWith(child->GetName(), "Selector"))
                return selector;
            queue.push_back(child);
        }
    }
    return nullptr;
}

SelectorSwitch::SelectorSwitch(IEnumeration& selector, const std::string& entry) : selector_(selector) {
    if (IsReadable(selector_))
        previous_ = selector_.ToString();
    if (previous_ != entry)
        selector_.FromString(entry, true);
    else
        previous_.clear(); // nothing to put back
}

SelectorSwitch::~SelectorSwitch() {
    if (previous_.empty())
        return;
    try {
        selector_.FromString(previous_, true);
    } catch (const GenICam::GenericException&) {
        // The selector refused its own former entry: nothing better can be done here.
    }
}

std::vector<Record> ReadRecords(const std::vector<INode*>& features) {
    std::vector<Record> records;
    for (INode* feature : features) {
        const ValueKind kind = KindOf(feature);
        auto read_one = [&](const std::string& selector, const std::string& entry) {
            if (!IsReadable(feature) || !IsWritable(feature))
                return;
            if (auto text = ReadText(feature, kind))
                records.push_back(Record{0, feature->GetName(), selector, entry, std::move(*text)});
        };

        IEnumeration* selector = SelectorOf(feature);
        if (!selector || !IsReadable(selector)) {
            read_one({}, {});
            continue;
        }
        const std::string selector_name = selector->GetNode()->GetName();
        if (!IsWritable(selector)) {
            read_one(selector_name, selector->ToString());
            continue;
        }
        NodeList_t entries;
        selector->GetEntries(entries);
        for (INode* entry_node : entries) {
            auto* entry = dynamic_cast<IEnumEntry*>(entry_node);
            if (!entry || !IsAvailable(entry_node))
                continue;
            const std::string symbolic = entry->GetSymbolic();
            SelectorSwitch on(*selector, symbolic);
            read_one(selector_name, symbolic);
        }
    }
    return records;
}

} // namespace Pylon::persistence
