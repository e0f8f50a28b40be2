// Node offering IString: a value-based string with a maximum length.
#pragma once

#include "genapi/Node.h"
#include "genapi/ValueSource.h"

namespace GenApi::detail {

class StringNode : public Node, public virtual IString {
public:
    // Maximum length when the description gives no <MaxLength>.
    static constexpr int64_t kDefaultMaxLength = 256;

    StringNode(NodeMapImpl& map, std::string name, int line) : Node(map, std::move(name), line) {}
    const char* Tag() const noexcept override { return "String"; }
    EInterfaceType GetPrincipalInterfaceType() const override { return intfIString; }

    void SetValue(const gcstring& Value, bool Verify = true) override;
    gcstring GetValue(bool Verify = false, bool IgnoreCache = false) override;
    int64_t GetMaxLength() override { return max_length_; }

    bool IsIndexed() const noexcept override { return value_.IsIndexed(); }
    std::string ReadText(std::optional<int64_t> at = std::nullopt) override { return value_.ReadString(at); }
    void WriteText(const std::string& text, std::optional<int64_t> at = std::nullopt) override {
        value_.WriteString(text, at);
    }

    void Resolve(LoadContext& ctx) override;
    void CollectReferences(std::vector<Node*>& out) const override;
    void CollectValueReferences(std::vector<Node*>& out) const override { value_.CollectValueReferences(out); }

protected:
    bool ReadElement(const pugi::xml_node& element, LoadContext& ctx) override;
    EAccessMode NativeAccess() const override;
    void ClientFromString(const std::string& text, bool verify) override { SetValue(text, verify); }

private:
    mutable ValueSource value_{*this, Storage::String};
    int64_t max_length_ = kDefaultMaxLength;
};

} // namespace GenApi::detail
