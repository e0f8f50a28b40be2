// The GenApi node interfaces. A node map owns its nodes; the interfaces below are
// what callers see. One node class may offer several interfaces (an integer register
// offers IInteger and IRegister); callers ask with dynamic_cast through the smart
// pointers of Pointer.h.
//
// Reads take (Verify, IgnoreCache); writes take Verify. A verified write checks the
// access mode (AccessException), the limits (OutOfRangeException) and the increment or
// the entry name (InvalidArgumentException) and names the feature in the description.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include <GenApi/Types.h>

namespace GenApi {

struct INode;
struct INodeMap;
struct IValue;

using NodeList_t = std::vector<INode*>;
using FeatureList_t = std::vector<IValue*>;
using CallbackHandleType = std::intptr_t;

struct IBase {
    virtual ~IBase() = default;
    virtual EAccessMode GetAccessMode() const = 0;
};

struct INode : virtual IBase {
    virtual gcstring GetName(bool FullQualified = false) const = 0;
    virtual ENameSpace GetNameSpace() const = 0;
    virtual EVisibility GetVisibility() const = 0;
    virtual gcstring GetDescription() const = 0;
    virtual gcstring GetDisplayName() const = 0;
    virtual gcstring GetToolTip() const = 0;
    virtual bool IsFeature() const = 0;
    virtual EInterfaceType GetPrincipalInterfaceType() const = 0;
    virtual ECachingMode GetCachingMode() const = 0;
    virtual bool IsStreamable() const = 0;
    virtual INodeMap* GetNodeMap() const = 0;
    // Nodes whose value this node reads (its pValue, pMin, pIsAvailable, ... references).
    virtual void GetChildren(NodeList_t& Children) const = 0;
    // Nodes that must be refreshed when this node changes.
    virtual void GetParents(NodeList_t& Parents) const = 0;
    // Called on the thread that changed the node (or one it depends on).
    virtual CallbackHandleType RegisterCallback(std::function<void(INode*)> callback) = 0;
    virtual bool DeregisterCallback(CallbackHandleType handle) = 0;
    virtual void InvalidateNode() = 0;
};

struct IValue : virtual IBase {
    virtual INode* GetNode() = 0;
    virtual gcstring ToString(bool Verify = false, bool IgnoreCache = false) = 0;
    virtual void FromString(const gcstring& ValueStr, bool Verify = true) = 0;
    virtual bool IsValueCacheValid() const = 0;
};

struct IInteger : virtual IValue {
    virtual void SetValue(int64_t Value, bool Verify = true) = 0;
    virtual int64_t GetValue(bool Verify = false, bool IgnoreCache = false) = 0;
    virtual int64_t GetMin() = 0;
    virtual int64_t GetMax() = 0;
    virtual EIncMode GetIncMode() = 0;
    virtual int64_t GetInc() = 0;
    virtual ERepresentation GetRepresentation() = 0;
    virtual gcstring GetUnit() const = 0;
    IInteger& operator=(int64_t Value) { SetValue(Value); return *this; }
    int64_t operator()() { return GetValue(); }
};

struct IFloat : virtual IValue {
    virtual void SetValue(double Value, bool Verify = true) = 0;
    virtual double GetValue(bool Verify = false, bool IgnoreCache = false) = 0;
    virtual double GetMin() = 0;
    virtual double GetMax() = 0;
    virtual bool HasInc() = 0;
    virtual EIncMode GetIncMode() = 0;
    virtual double GetInc() = 0;
    virtual ERepresentation GetRepresentation() = 0;
    virtual gcstring GetUnit() const = 0;
    virtual EDisplayNotation GetDisplayNotation() const = 0;
    virtual int64_t GetDisplayPrecision() const = 0;
    IFloat& operator=(double Value) { SetValue(Value); return *this; }
    double operator()() { return GetValue(); }
};

struct IBoolean : virtual IValue {
    virtual void SetValue(bool Value, bool Verify = true) = 0;
    virtual bool GetValue(bool Verify = false, bool IgnoreCache = false) const = 0;
    IBoolean& operator=(bool Value) { SetValue(Value); return *this; }
    bool operator()() const { return GetValue(); }
};

struct IString : virtual IValue {
    virtual void SetValue(const gcstring& Value, bool Verify = true) = 0;
    virtual gcstring GetValue(bool Verify = false, bool IgnoreCache = false) = 0;
    virtual int64_t GetMaxLength() = 0;
    IString& operator=(const gcstring& Value) { SetValue(Value); return *this; }
    gcstring operator()() { return GetValue(); }
};

struct ICommand : virtual IValue {
    virtual void Execute(bool Verify = true) = 0;
    virtual bool IsDone(bool Verify = true) = 0;
    void operator()() { Execute(); }
};

struct IRegister : virtual IValue {
    virtual void Set(const uint8_t* pBuffer, int64_t Length, bool Verify = true) = 0;
    virtual void Get(uint8_t* pBuffer, int64_t Length, bool Verify = false, bool IgnoreCache = false) = 0;
    virtual int64_t GetLength() = 0;
    virtual int64_t GetAddress() = 0;
};

struct IEnumEntry : virtual IValue {
    virtual int64_t GetValue() = 0;
    virtual gcstring GetSymbolic() const = 0;
    virtual double GetNumericValue() = 0;
    virtual bool IsSelfClearing() = 0;
};

struct IEnumeration : virtual IValue {
    // Symbolic names of the entries that are available now.
    virtual void GetSymbolics(StringList_t& Symbolics) = 0;
    // Every entry node, available or not, in the order of the camera description.
    virtual void GetEntries(NodeList_t& Entries) = 0;
    virtual void SetIntValue(int64_t Value, bool Verify = true) = 0;
    virtual int64_t GetIntValue(bool Verify = false, bool IgnoreCache = false) = 0;
    // Null when there is no entry of that name.
    virtual IEnumEntry* GetEntryByName(const gcstring& Symbolic) = 0;
    virtual IEnumEntry* GetEntry(int64_t IntValue) = 0;
    virtual IEnumEntry* GetCurrentEntry(bool Verify = false, bool IgnoreCache = false) = 0;
    IEnumeration& operator=(const gcstring& Symbolic) { FromString(Symbolic); return *this; }
};

struct ICategory : virtual IValue {
    // The features of this category, in the order of the camera description.
    virtual void GetFeatures(FeatureList_t& Features) const = 0;
};

struct INodeMap {
    virtual ~INodeMap() = default;
    virtual void GetNodes(NodeList_t& Nodes) const = 0;
    // Null when the node map has no node of that name.
    virtual INode* GetNode(const gcstring& Name) const = 0;
    virtual void InvalidateNodes() const = 0;
    virtual void Poll(int64_t ElapsedTime) = 0;
    virtual gcstring GetDeviceName() = 0;
};

} // namespace GenApi
