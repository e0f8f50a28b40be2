#include "genapi/NodeFactory.h"

#include <set>
#include <utility>

#include "genapi/BooleanNode.h"
#include "genapi/CategoryNode.h"
#include "genapi/CommandNode.h"
#include "genapi/ConverterNodes.h"
#include "genapi/EnumerationNodes.h"
#include "genapi/FloatNodes.h"
#include "genapi/IntegerNodes.h"
#include "genapi/PortNode.h"
#include "genapi/RegisterNode.h"
#include "genapi/RegisterValueNodes.h"
#include "genapi/StringNode.h"

namespace GenApi::detail {

namespace {
class LegacyNode : public Node {
public:
    LegacyNode(NodeMapImpl& map, std::string name, int line, std::string tag)
        : Node(map, std::move(name), line), tag_(std::move(tag)) {}
    const char* Tag() const noexcept override { return tag_.c_str(); }
    EInterfaceType GetPrincipalInterfaceType() const override { return intfIValue; }
    bool IsNumeric() const noexcept override { return true; }
    int64_t ReadInt(std::optional<int64_t> = std::nullopt) override { return 0; }
    double ReadFloat(std::optional<int64_t> = std::nullopt) override { return 0; }
    std::string ReadText(std::optional<int64_t> = std::nullopt) override { return {}; }

protected:
    bool ReadElement(const pugi::xml_node&, LoadContext&) override { return true; } // not read
    EAccessMode NativeAccess() const override { return NI; }

private:
    std::string tag_;
};

template <class T>
std::unique_ptr<Node> Make(NodeMapImpl& map, std::string name, int line) {
    return std::make_unique<T>(map, std::move(name), line);
}

using Creator = std::unique_ptr<Node> (*)(NodeMapImpl&, std::string, int);

constexpr std::pair<const char*, Creator> kCreators[] = {
    {"Category", &Make<CategoryNode>},
    {"Integer", &Make<IntegerNode>},
    {"IntSwissKnife", &Make<IntSwissKnifeNode>},
    {"Float", &Make<FloatNode>},
    {"SwissKnife", &Make<SwissKnifeNode>},
    {"Enumeration", &Make<EnumerationNode>},
    {"Boolean", &Make<BooleanNode>},
    {"String", &Make<StringNode>},
    {"Command", &Make<CommandNode>},
    {"Register", &Make<RegisterNode>},
    {"Converter", &Make<ConverterNode>},
    {"IntConverter", &Make<IntConverterNode>},
    {"Port", &Make<PortNode>},
    {"IntReg", &Make<IntRegNode>},
    {"MaskedIntReg", &Make<MaskedIntRegNode>},
    {"FloatReg", &Make<FloatRegNode>},
    {"StringReg", &Make<StringRegNode>},
};
} // namespace

std::unique_ptr<Node> CreateNode(const std::string& tag, NodeMapImpl& map, std::string name, int line) {
    for (const auto& [known, create] : kCreators)
        if (tag == known)
            return create(map, std::move(name), line);
    return nullptr;
}

std::unique_ptr<Node> CreateLegacyNode(const std::string& tag, NodeMapImpl& map, std::string name, int line) {
    return std::make_unique<LegacyNode>(map, std::move(name), line, tag);
}

bool IsUnsupportedStandardNode(const std::string& tag) {
    static const std::set<std::string> kTags = {"ConfRom", "TextDesc", "IntKey",
                                                "AdvFeatureLock", "SmartFeature", "Node"};
    return kTags.count(tag) != 0;
}

} // namespace GenApi::detail
