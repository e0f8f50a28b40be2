// Smart pointers over the node interfaces and the access-mode tests.
// A CPointer does not own its node (the node map does); assigning a node that does
// not offer the interface leaves the pointer empty, and dereferencing an empty one
// raises LogicalErrorException "NULL pointer dereferenced".
#pragma once

#include <GenApi/Interfaces.h>

namespace GenApi {

template <class T, class B = IBase>
class CPointer {
public:
    CPointer() noexcept = default;
    CPointer(B* pB) : ptr_(pB ? dynamic_cast<T*>(pB) : nullptr) {}
    template <class U, class = std::enable_if_t<!std::is_same_v<U, B> && std::is_polymorphic_v<U>>>
    CPointer(U* p) : ptr_(p ? dynamic_cast<T*>(p) : nullptr) {}
    CPointer(std::nullptr_t) noexcept {}
    template <class U, class UB>
    CPointer(const CPointer<U, UB>& other) : ptr_(other.IsValid() ? dynamic_cast<T*>(other.get()) : nullptr) {}

    CPointer& operator=(B* pB) { ptr_ = pB ? dynamic_cast<T*>(pB) : nullptr; return *this; }
    template <class U, class = std::enable_if_t<!std::is_same_v<U, B> && std::is_polymorphic_v<U>>>
    CPointer& operator=(U* p) { ptr_ = p ? dynamic_cast<T*>(p) : nullptr; return *this; }

    bool IsValid() const noexcept { return ptr_ != nullptr; }
    explicit operator bool() const noexcept { return IsValid(); }
    operator T*() const noexcept { return ptr_; }
    T* get() const noexcept { return ptr_; }
    void Release() noexcept { ptr_ = nullptr; }

    T* operator->() const {
        if (!ptr_)
            throw LOGICAL_ERROR_EXCEPTION("NULL pointer dereferenced");
        return ptr_;
    }
    T& operator*() const { return *operator->(); }

    friend bool operator==(const CPointer& a, const CPointer& b) noexcept { return a.ptr_ == b.ptr_; }
    friend bool operator==(const CPointer& a, std::nullptr_t) noexcept { return a.ptr_ == nullptr; }

private:
    T* ptr_ = nullptr;
};

using CBasePtr = CPointer<IBase>;
using CNodePtr = CPointer<INode>;
using CValuePtr = CPointer<IValue>;
using CIntegerPtr = CPointer<IInteger>;
using CFloatPtr = CPointer<IFloat>;
using CBooleanPtr = CPointer<IBoolean>;
using CStringPtr = CPointer<IString>;
using CCommandPtr = CPointer<ICommand>;
using CRegisterPtr = CPointer<IRegister>;
using CEnumerationPtr = CPointer<IEnumeration>;
using CEnumEntryPtr = CPointer<IEnumEntry>;
using CCategoryPtr = CPointer<ICategory>;
using CNodeMapPtr = CPointer<INodeMap, INodeMap>;

inline bool IsReadable(EAccessMode m) noexcept { return m == RO || m == RW; }
inline bool IsWritable(EAccessMode m) noexcept { return m == WO || m == RW; }
inline bool IsAvailable(EAccessMode m) noexcept { return !(m == NA || m == NI); }
inline bool IsImplemented(EAccessMode m) noexcept { return m != NI; }

inline bool IsReadable(const IBase* p) { return p && IsReadable(p->GetAccessMode()); }
inline bool IsWritable(const IBase* p) { return p && IsWritable(p->GetAccessMode()); }
inline bool IsAvailable(const IBase* p) { return p && IsAvailable(p->GetAccessMode()); }
inline bool IsImplemented(const IBase* p) { return p && IsImplemented(p->GetAccessMode()); }

inline bool IsReadable(const IBase& r) { return IsReadable(r.GetAccessMode()); }
inline bool IsWritable(const IBase& r) { return IsWritable(r.GetAccessMode()); }
inline bool IsAvailable(const IBase& r) { return IsAvailable(r.GetAccessMode()); }
inline bool IsImplemented(const IBase& r) { return IsImplemented(r.GetAccessMode()); }

template <class T, class B>
bool IsReadable(const CPointer<T, B>& p) { return IsReadable(static_cast<const IBase*>(p.get())); }
template <class T, class B>
bool IsWritable(const CPointer<T, B>& p) { return IsWritable(static_cast<const IBase*>(p.get())); }
template <class T, class B>
bool IsAvailable(const CPointer<T, B>& p) { return IsAvailable(static_cast<const IBase*>(p.get())); }
template <class T, class B>
bool IsImplemented(const CPointer<T, B>& p) { return IsImplemented(static_cast<const IBase*>(p.get())); }

} // namespace GenApi
