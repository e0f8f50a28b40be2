// Nodes offering IEnumeration and IEnumEntry. Entries are nodes of their own (named
// EnumEntry_<Enumeration>_<Symbolic> in the descriptions), each with its own availability.
#pragma once

#include "genapi/Node.h"
#include "genapi/ValueSource.h"

namespace GenApi::detail {

class EnumerationNode;

class EnumEntryNode : public Node, public virtual IEnumEntry {
public:
    EnumEntryNode(NodeMapImpl& map, std::string name, int line, EnumerationNode& owner);
    const char* Tag() const noexcept override { return "EnumEntry"; }
    EInterfaceType GetPrincipalInterfaceType() const override { return intfIEnumEntry; }

    int64_t GetValue() override { return value_; }
    gcstring GetSymbolic() const override { return symbolic_; }
    double GetNumericValue() override { return has_numeric_ ? numeric_ : static_cast<double>(value_); }
    bool IsSelfClearing() override { return self_clearing_; }

    bool IsNumeric() const noexcept override { return true; }
    int64_t ReadInt(std::optional<int64_t> = std::nullopt) override { return value_; }
    double ReadFloat(std::optional<int64_t> = std::nullopt) override { return GetNumericValue(); }
    std::string ReadText(std::optional<int64_t> = std::nullopt) override { return symbolic_; }

    // The value of the entry (fixed after loading).
    int64_t Value() const noexcept { return value_; }
    const std::string& Symbolic() const noexcept { return symbolic_; }
    EnumerationNode& Owner() const noexcept { return owner_; }

protected:
    bool ReadElement(const pugi::xml_node& element, LoadContext& ctx) override;
    EAccessMode NativeAccess() const override { return RO; }

private:
    EnumerationNode& owner_;
    int64_t value_ = 0;
    double numeric_ = 0;
    bool has_numeric_ = false;
    bool has_value_ = false;
    bool self_clearing_ = false;
    std::string symbolic_;
    friend class EnumerationNode;
};

class EnumerationNode : public Node, public virtual IEnumeration {
public:
    EnumerationNode(NodeMapImpl& map, std::string name, int line) : Node(map, std::move(name), line) {}
    const char* Tag() const noexcept override { return "Enumeration"; }
    EInterfaceType GetPrincipalInterfaceType() const override { return intfIEnumeration; }

    void GetSymbolics(StringList_t& Symbolics) override;
    void GetEntries(NodeList_t& Entries) override;
    void SetIntValue(int64_t Value, bool Verify = true) override;
    int64_t GetIntValue(bool Verify = false, bool IgnoreCache = false) override;
    IEnumEntry* GetEntryByName(const gcstring& Symbolic) override;
    IEnumEntry* GetEntry(int64_t IntValue) override;
    IEnumEntry* GetCurrentEntry(bool Verify = false, bool IgnoreCache = false) override;

    bool IsNumeric() const noexcept override { return true; }
    bool IsIndexed() const noexcept override { return value_.IsIndexed(); }
    int64_t ReadInt(std::optional<int64_t> at = std::nullopt) override { return value_.ReadInt(at); }
    double ReadFloat(std::optional<int64_t> at = std::nullopt) override;
    void WriteInt(int64_t value, std::optional<int64_t> at = std::nullopt) override { value_.WriteInt(value, at); }
    void WriteFloat(double value, std::optional<int64_t> at = std::nullopt) override;
    std::string ReadText(std::optional<int64_t> at = std::nullopt) override;
    void WriteText(const std::string& text, std::optional<int64_t> at = std::nullopt) override;

    void Resolve(LoadContext& ctx) override;
    void CollectReferences(std::vector<Node*>& out) const override;
    void CollectValueReferences(std::vector<Node*>& out) const override { value_.CollectValueReferences(out); }

protected:
    bool ReadElement(const pugi::xml_node& element, LoadContext& ctx) override;
    EAccessMode NativeAccess() const override;
    void ClientFromString(const std::string& text, bool verify) override;

private:
    EnumEntryNode* FindEntry(int64_t value) const;
    EnumEntryNode* FindEntry(const std::string& symbolic) const;
    void WriteEntry(EnumEntryNode& entry, bool verify);

    mutable ValueSource value_{*this, Storage::Int};
    std::vector<EnumEntryNode*> entries_; // fixed after loading, in description order
};

} // namespace GenApi::detail
