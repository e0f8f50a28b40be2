// Reading a camera description (GenICam XML) into a node map: nodes are made by tag, their
// references linked and checked, dependencies and the feature tree under "Root" set up.
#include <GenApi/NodeMapFactory.h>

#include <algorithm>
#include <deque>
#include <fstream>
#include <sstream>
#include <unordered_map>
#include <unordered_set>

#include <GenICam/GCException.h>

#include "genapi/CategoryNode.h"
#include "genapi/LoadContext.h"
#include "genapi/Node.h"
#include "genapi/NodeFactory.h"
#include "genapi/NodeMapImpl.h"

namespace GenApi {

using detail::CategoryNode;
using detail::LoadContext;
using detail::Node;

namespace {

void LoadElements(const pugi::xml_node& parent, LoadContext& ctx) {
    for (const auto& element : parent.children()) {
        if (element.type() != pugi::node_element)
            continue;
        const std::string tag = element.name();
        if (tag == "Extension") // vendor data, not nodes
            continue;
        if (tag == "Group") { // grouping only, no node of its own
            LoadElements(element, ctx);
            continue;
        }
        if (tag == "StructReg") { // one masked register node per StructEntry, sharing the rest
            for (const auto& entry : element.children("StructEntry")) {
                const std::string name = entry.attribute("Name").value();
                if (name.empty())
                    ctx.Fail(entry, "<StructEntry> without Name attribute");
                Node& node = ctx.Add(detail::CreateNode("MaskedIntReg", ctx.Map(), name, ctx.LineOf(entry)));
                node.LoadShared(element, ctx, "StructEntry");
                node.Load(entry, ctx);
            }
            continue;
        }
        const std::string name = element.attribute("Name").value();
        if (name.empty())
            ctx.Fail(element, "<" + tag + "> without Name attribute");
        auto node = detail::CreateNode(tag, ctx.Map(), name, ctx.LineOf(element));
        if (!node && detail::IsUnsupportedStandardNode(tag)) {
            // Legacy node kinds (ConfRom, TextDesc, IntKey, ...): kept as not implemented, so
            // references to them still resolve.
            ctx.Warn("node " + tag, ctx.LineOf(element),
                     "node '" + name + "': node type <" + tag + "> is published as not implemented");
            node = detail::CreateLegacyNode(tag, ctx.Map(), name, ctx.LineOf(element));
            ctx.Add(std::move(node));
            continue;
        }
        if (!node) {
            ctx.Warn("node " + tag, ctx.LineOf(element), "node '" + name + "': unknown node type <" + tag + "> skipped");
            continue;
        }
        ctx.Add(std::move(node)).Load(element, ctx);
    }
}

// Value chains (pValue, formula variables, ...) must not loop.
void CheckValueCycles(const detail::NodeMapImpl& impl, const LoadContext& ctx) {
    enum class Mark { None, Active, Done };
    std::unordered_map<const Node*, Mark> marks;
    std::vector<const Node*> path;
    std::function<void(const Node&)> visit = [&](const Node& node) {
        marks[&node] = Mark::Active;
        path.push_back(&node);
        std::vector<Node*> refs;
        node.CollectValueReferences(refs);
        for (const Node* next : refs) {
            const Mark mark = marks[next];
            if (mark == Mark::Active) {
                std::string chain;
                auto start = std::find(path.begin(), path.end(), next);
                for (auto it = start; it != path.end(); ++it)
                    chain += (*it)->Name() + " -> ";
                ctx.Fail(next->Line(), "circular value reference: " + chain + next->Name());
            }
            if (mark == Mark::None)
                visit(*next);
        }
        path.pop_back();
        marks[&node] = Mark::Done;
    };
    for (const auto& node : impl.Nodes())
        if (marks[node.get()] == Mark::None)
            visit(*node);
}

void LinkRelations(detail::NodeMapImpl& impl) {
    std::unordered_map<Node*, std::vector<Node*>> children, parents;
    for (const auto& node : impl.Nodes()) {
        std::vector<Node*> refs;
        node->CollectReferences(refs);
        std::vector<Node*>& own = children[node.get()];
        for (Node* ref : refs) {
            if (std::find(own.begin(), own.end(), ref) != own.end())
                continue;
            own.push_back(ref);
            parents[ref].push_back(node.get());
        }
    }
    // A node is told of (and its cached value dropped by) changes of its invalidators.
    std::unordered_map<Node*, std::vector<Node*>> invalidated;
    for (const auto& node : impl.Nodes())
        for (Node* invalidator : node->InvalidatorNodes())
            invalidated[invalidator].push_back(node.get());
    for (const auto& node : impl.Nodes()) {
        std::vector<Node*> dependents = parents[node.get()];
        for (Node* target : invalidated[node.get()])
            if (target != node.get() && std::find(dependents.begin(), dependents.end(), target) == dependents.end())
                dependents.push_back(target);
        node->SetRelations(std::move(children[node.get()]), std::move(parents[node.get()]), std::move(dependents));
    }
}

void MarkFeatures(CategoryNode& root) {
    std::unordered_set<Node*> seen;
    std::deque<Node*> queue{&root};
    while (!queue.empty()) {
        Node* node = queue.front();
        queue.pop_front();
        if (!seen.insert(node).second)
            continue;
        node->MarkFeature();
        if (auto* category = dynamic_cast<CategoryNode*>(node))
            for (const auto& ref : category->Features())
                queue.push_back(ref.node);
    }
}

std::unique_ptr<NodeMap> Load(const std::string& xml, const std::string& source_name) {
    auto impl = std::make_unique<detail::NodeMapImpl>();
    impl->source_name = source_name;
    LoadContext ctx(*impl, source_name, xml.data(), xml.size());

    pugi::xml_document doc;
    const pugi::xml_parse_result parsed = doc.load_buffer(xml.data(), xml.size(), pugi::parse_default, pugi::encoding_utf8);
    if (!parsed)
        ctx.Fail(ctx.LineOfOffset(parsed.offset), std::string("XML error: ") + parsed.description());
    const pugi::xml_node root = doc.document_element();
    if (std::string(root.name()) != "RegisterDescription")
        ctx.Fail(root, std::string("the document element is <") + root.name() + ">, not <RegisterDescription>");
    impl->device_name = root.attribute("ModelName").as_string(source_name.c_str());

    LoadElements(root, ctx);
    for (const auto& node : impl->Nodes())
        node->Resolve(ctx);

    auto* root_category = dynamic_cast<CategoryNode*>(impl->Find("Root"));
    if (!root_category)
        ctx.Fail(root, impl->Find("Root") ? "node 'Root' is not a Category" : "no 'Root' category");
    CheckValueCycles(*impl, ctx);
    LinkRelations(*impl);
    MarkFeatures(*root_category);
    return std::make_unique<NodeMap>(std::move(impl));
}

} // namespace

std::unique_ptr<NodeMap> CNodeMapFactory::LoadFromFile(const gcstring& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw RUNTIME_EXCEPTION("Cannot open camera description '%s'", path.c_str());
    std::ostringstream content;
    content << file.rdbuf();
    return Load(content.str(), path);
}

std::unique_ptr<NodeMap> CNodeMapFactory::LoadFromString(const gcstring& xml, const gcstring& source_name) {
    return Load(xml, source_name);
}

} // namespace GenApi
