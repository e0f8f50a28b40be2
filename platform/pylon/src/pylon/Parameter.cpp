#include <pylon/Parameter.h>

namespace Pylon {

namespace detail {

GenApi::INode* CParameterBinding::FindNode() const
{
    GenApi::INodeMap* map = owner_ ? owner_->GetParameterNodeMap() : nullptr;
    return map ? map->GetNode(name_) : nullptr;
}

GenApi::EAccessMode CParameterBinding::AccessMode() const
{
    GenApi::INode* node = FindNode();
    return node ? node->GetAccessMode() : GenApi::NI;
}

void CParameterBinding::ThrowAbsent(bool wrongKind) const
{
    if (wrongKind)
        throw LOGICAL_ERROR_EXCEPTION("Feature '%s' is not of the parameter's kind", name_);
    throw LOGICAL_ERROR_EXCEPTION("Feature '%s' is not present", name_);
}

} // namespace detail

std::size_t CEnumParameterBase::CurrentIndex(const char* const* names, std::size_t count, bool Verify)
{
    const GenICam::gcstring symbolic = Node()->ToString(Verify);
    for (std::size_t i = 0; i < count; ++i)
        if (symbolic == names[i])
            return i;
    throw LOGICAL_ERROR_EXCEPTION("Feature '%s' has the value '%s', which the parameter does not know", GetFeatureName(),
                                  symbolic.c_str());
}

} // namespace Pylon
