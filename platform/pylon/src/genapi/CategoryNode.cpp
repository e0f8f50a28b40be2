#include "genapi/CategoryNode.h"

namespace GenApi::detail {

bool CategoryNode::ReadElement(const pugi::xml_node& element, LoadContext& ctx) {
    if (Node::ReadElement(element, ctx))
        return true;
    if (std::string(element.name()) != "pFeature")
        return false;
    features_.push_back(ctx.Ref(element));
    return true;
}

void CategoryNode::Resolve(LoadContext& ctx) {
    Node::Resolve(ctx);
    for (auto& ref : features_)
        ctx.Resolve(ref, *this, "pFeature", false);
}

void CategoryNode::CollectReferences(std::vector<Node*>& out) const {
    Node::CollectReferences(out);
    for (const auto& ref : features_)
        out.push_back(ref.node);
}

void CategoryNode::GetFeatures(FeatureList_t& Features) const {
    Features.clear();
    for (const auto& ref : features_)
        Features.push_back(ref.node);
}

} // namespace GenApi::detail
