// Typed camera parameters: members of a camera (or stream grabber) object that are bound
// by feature name to the owner's node map each time they are used. A parameter whose node
// is absent (or whose owner has no node map) reports the access mode NI; any other use
// raises LogicalErrorException naming the feature. So GenApi::IsWritable(camera.Width)
// works whatever the camera model offers.
#pragma once

#include <cstddef>
#include <iterator>
#include <string_view>

#include <GenApi/Interfaces.h>
#include <pylon/PylonBase.h>

namespace Pylon {

// What a parameter asks its owner for.
class IParameterOwner {
public:
    // The node map the parameters bind to; null when there is none (no device attached).
    // May throw (a removed device raises RuntimeException).
    virtual GenApi::INodeMap* GetParameterNodeMap() const = 0;

protected:
    ~IParameterOwner() = default;
};

namespace detail {

// Resolves a feature name on the owner's node map. Holds no state that changes, so a
// parameter may be used from several threads.
class CParameterBinding {
public:
    CParameterBinding(const IParameterOwner* owner, const char* name) : owner_(owner), name_(name) {}

    const char* Name() const { return name_; }
    // The node, or null when absent.
    GenApi::INode* FindNode() const;
    GenApi::EAccessMode AccessMode() const;
    // The node as interface I; LogicalErrorException when absent or of another kind.
    template <class I>
    I* Require() const
    {
        GenApi::INode* node = FindNode();
        I* typed = node ? dynamic_cast<I*>(node) : nullptr;
        if (!typed)
            ThrowAbsent(node != nullptr);
        return typed;
    }

private:
    [[noreturn]] void ThrowAbsent(bool wrongKind) const;

    const IParameterOwner* owner_;
    const char* name_;
};

// The IValue part shared by every typed parameter.
template <class I>
class CValueParameter : public I {
public:
    CValueParameter(const IParameterOwner* owner, const char* name) : binding_(owner, name) {}
    CValueParameter(const CValueParameter&) = delete;
    CValueParameter& operator=(const CValueParameter&) = delete;

    GenApi::EAccessMode GetAccessMode() const override { return binding_.AccessMode(); }
    GenApi::INode* GetNode() override { return binding_.Require<GenApi::INode>(); }
    GenICam::gcstring ToString(bool Verify = false, bool IgnoreCache = false) override
    {
        return Node()->ToString(Verify, IgnoreCache);
    }
    void FromString(const GenICam::gcstring& ValueStr, bool Verify = true) override
    {
        Node()->FromString(ValueStr, Verify);
    }
    bool IsValueCacheValid() const override { return Node()->IsValueCacheValid(); }

    // The feature name this parameter binds to.
    const char* GetFeatureName() const { return binding_.Name(); }
    // True when the owner's node map has a node of this kind under that name.
    bool IsPresent() const
    {
        GenApi::INode* node = binding_.FindNode();
        return node && dynamic_cast<I*>(node);
    }

protected:
    I* Node() const { return binding_.Require<I>(); }

private:
    CParameterBinding binding_;
};

} // namespace detail

class CIntegerParameter : public detail::CValueParameter<GenApi::IInteger> {
public:
    using CValueParameter::CValueParameter;
    using GenApi::IInteger::operator=;
    void SetValue(int64_t Value, bool Verify = true) override { Node()->SetValue(Value, Verify); }
    int64_t GetValue(bool Verify = false, bool IgnoreCache = false) override { return Node()->GetValue(Verify, IgnoreCache); }
    int64_t GetMin() override { return Node()->GetMin(); }
    int64_t GetMax() override { return Node()->GetMax(); }
    GenApi::EIncMode GetIncMode() override { return Node()->GetIncMode(); }
    int64_t GetInc() override { return Node()->GetInc(); }
    GenApi::ERepresentation GetRepresentation() override { return Node()->GetRepresentation(); }
    GenICam::gcstring GetUnit() const override { return Node()->GetUnit(); }
};

class CFloatParameter : public detail::CValueParameter<GenApi::IFloat> {
public:
    using CValueParameter::CValueParameter;
    using GenApi::IFloat::operator=;
    void SetValue(double Value, bool Verify = true) override { Node()->SetValue(Value, Verify); }
    double GetValue(bool Verify = false, bool IgnoreCache = false) override { return Node()->GetValue(Verify, IgnoreCache); }
    double GetMin() override { return Node()->GetMin(); }
    double GetMax() override { return Node()->GetMax(); }
    bool HasInc() override { return Node()->HasInc(); }
    GenApi::EIncMode GetIncMode() override { return Node()->GetIncMode(); }
    double GetInc() override { return Node()->GetInc(); }
    GenApi::ERepresentation GetRepresentation() override { return Node()->GetRepresentation(); }
    GenICam::gcstring GetUnit() const override { return Node()->GetUnit(); }
    GenApi::EDisplayNotation GetDisplayNotation() const override { return Node()->GetDisplayNotation(); }
    int64_t GetDisplayPrecision() const override { return Node()->GetDisplayPrecision(); }
};

class CBooleanParameter : public detail::CValueParameter<GenApi::IBoolean> {
public:
    using CValueParameter::CValueParameter;
    using GenApi::IBoolean::operator=;
    void SetValue(bool Value, bool Verify = true) override { Node()->SetValue(Value, Verify); }
    bool GetValue(bool Verify = false, bool IgnoreCache = false) const override { return Node()->GetValue(Verify, IgnoreCache); }
};

class CStringParameter : public detail::CValueParameter<GenApi::IString> {
public:
    using CValueParameter::CValueParameter;
    using GenApi::IString::operator=;
    void SetValue(const GenICam::gcstring& Value, bool Verify = true) override { Node()->SetValue(Value, Verify); }
    GenICam::gcstring GetValue(bool Verify = false, bool IgnoreCache = false) override { return Node()->GetValue(Verify, IgnoreCache); }
    int64_t GetMaxLength() override { return Node()->GetMaxLength(); }
};

class CCommandParameter : public detail::CValueParameter<GenApi::ICommand> {
public:
    using CValueParameter::CValueParameter;
    void Execute(bool Verify = true) override { Node()->Execute(Verify); }
    bool IsDone(bool Verify = true) override { return Node()->IsDone(Verify); }
};

// Symbolic names of an enumeration type: specialise with a `names` array whose index is
// the enumerator value.
template <class EnumT>
struct CEnumNames;

class CEnumParameterBase : public detail::CValueParameter<GenApi::IEnumeration> {
public:
    using CValueParameter::CValueParameter;
    using GenApi::IEnumeration::operator=;
    void GetSymbolics(GenApi::StringList_t& Symbolics) override { Node()->GetSymbolics(Symbolics); }
    void GetEntries(GenApi::NodeList_t& Entries) override { Node()->GetEntries(Entries); }
    void SetIntValue(int64_t Value, bool Verify = true) override { Node()->SetIntValue(Value, Verify); }
    int64_t GetIntValue(bool Verify = false, bool IgnoreCache = false) override { return Node()->GetIntValue(Verify, IgnoreCache); }
    GenApi::IEnumEntry* GetEntryByName(const GenICam::gcstring& Symbolic) override { return Node()->GetEntryByName(Symbolic); }
    GenApi::IEnumEntry* GetEntry(int64_t IntValue) override { return Node()->GetEntry(IntValue); }
    GenApi::IEnumEntry* GetCurrentEntry(bool Verify = false, bool IgnoreCache = false) override
    {
        return Node()->GetCurrentEntry(Verify, IgnoreCache);
    }

protected:
    // Index of the current symbolic in `names`; LogicalErrorException when not listed.
    std::size_t CurrentIndex(const char* const* names, std::size_t count, bool Verify);
};

template <class EnumT>
class CEnumParameterT : public CEnumParameterBase {
public:
    using CEnumParameterBase::CEnumParameterBase;
    using CEnumParameterBase::operator=;

    // Selects the entry of that symbolic name (FromString, so the node checks it).
    void SetValue(EnumT Value, bool Verify = true) { FromString(Symbolic(Value), Verify); }
    EnumT GetValue(bool Verify = false)
    {
        return static_cast<EnumT>(CurrentIndex(std::data(CEnumNames<EnumT>::names), std::size(CEnumNames<EnumT>::names), Verify));
    }
    CEnumParameterT& operator=(EnumT Value)
    {
        SetValue(Value);
        return *this;
    }
    EnumT operator()() { return GetValue(); }
    // The symbolic name of an enumerator.
    static const char* Symbolic(EnumT Value) { return CEnumNames<EnumT>::names[static_cast<std::size_t>(Value)]; }
};

} // namespace Pylon
