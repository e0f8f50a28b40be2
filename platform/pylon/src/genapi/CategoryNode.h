// Node offering ICategory: the features listed by <pFeature>, in description order.
#pragma once

#include "genapi/Node.h"

namespace GenApi::detail {

class CategoryNode : public Node, public virtual ICategory {
public:
    CategoryNode(NodeMapImpl& map, std::string name, int line) : Node(map, std::move(name), line) {}
    const char* Tag() const noexcept override { return "Category"; }
    EInterfaceType GetPrincipalInterfaceType() const override { return intfICategory; }

    void GetFeatures(FeatureList_t& Features) const override;
    // The text of a category is its display name.
    std::string ReadText(std::optional<int64_t> = std::nullopt) override { return GetDisplayName(); }

    const std::vector<NodeRef>& Features() const noexcept { return features_; }
    void Resolve(LoadContext& ctx) override;
    void CollectReferences(std::vector<Node*>& out) const override;

protected:
    bool ReadElement(const pugi::xml_node& element, LoadContext& ctx) override;
    EAccessMode NativeAccess() const override { return RO; }

private:
    std::vector<NodeRef> features_; // fixed after loading
};

} // namespace GenApi::detail
