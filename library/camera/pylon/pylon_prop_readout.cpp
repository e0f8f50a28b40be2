// Read-out of a feature's value (as text or number), the reset of an integer feature to
// its original value, and the diagnostic line of a feature.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <mirva/server.h>

#include "pylon_prop.h"

using namespace GenApi;

namespace {

char* dup_text(const std::string& s)
{
    char* out = static_cast<char*>(std::malloc(s.size() + 1));
    if (out)
        std::memcpy(out, s.c_str(), s.size() + 1);
    return out;
}

// Held values are formatted as the host's short texts: at most 63 characters.
template <class... A>
char* held_text(const char* format, A... args)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, format, args...);
    return dup_text(buf);
}

} // namespace

char* pylon_prop::get_value_as_string(bool mode)
{
    if (type == PYLON_TYPE_UNDEF || !node.IsValid())
        return nullptr;
    try {
        if (!IsReadable(node->GetAccessMode()))
            return nullptr;
        switch (type) {
        case PYLON_TYPE_INT:
            return mode ? dup_text(CValuePtr(node)->ToString(false, false)) : held_text("%d", d_fct.ival->value());
        case PYLON_TYPE_FLOAT:
            return mode ? dup_text(CValuePtr(node)->ToString(false, false))
                        : held_text("%f", static_cast<double>(d_fct.fval->value()));
        case PYLON_TYPE_ENUMER:
            return mode ? dup_text(CValuePtr(node)->ToString(false, false)) : held_text("%s", currentVal.sval->c_str());
        case PYLON_TYPE_BOOL:
            return mode ? dup_text(CValuePtr(node)->ToString(false, false)) : held_text("%d", d_fct.ival->value());
        case PYLON_TYPE_STRING:
            return mode ? dup_text(CStringPtr(node)->GetValue(false, false)) : held_text("%s", currentVal.sval->c_str());
        case PYLON_TYPE_COMMAND:
            if (mode)
                return dup_text(CCommandPtr(node)->IsDone(true) ? "0" : "1");
            return held_text("%d", currentVal.ival);
        case PYLON_TYPE_REGISTER:
            return nullptr;
        default:
            printftostderr("pylon", "Unknown property type %d for %s", static_cast<int>(type), node_name.c_str());
            return nullptr;
        }
    } catch (const GenICam::RuntimeException& e) {
        std::perror("Exception");
        printftostderr("pylon", "  %s  doesn't exists exception %s", node_name.c_str(), e.GetDescription());
        return nullptr;
    }
}

float pylon_prop::get_value_as_float()
{
    if (type == PYLON_TYPE_UNDEF)
        return 0;
    if (!node.IsValid() || !IsReadable(node->GetAccessMode()))
        return -1;
    switch (type) {
    case PYLON_TYPE_INT:
    case PYLON_TYPE_BOOL:
        return static_cast<float>(d_fct.ival->value());
    case PYLON_TYPE_FLOAT:
        return d_fct.fval->value();
    case PYLON_TYPE_ENUMER:
        // The index of the selected entry, not the entry's numeric value.
        return d_fct_inc.ival ? static_cast<float>(d_fct_inc.ival->value()) : -1.0f;
    case PYLON_TYPE_STRING:
        return 0;
    case PYLON_TYPE_COMMAND:
        return CCommandPtr(node)->IsDone(true) ? 0.0f : 1.0f;
    case PYLON_TYPE_REGISTER:
        return -1;
    default:
        printftostderr("pylon", "Unknown property type %d for %s", static_cast<int>(type), node_name.c_str());
        return -1;
    }
}

bool pylon_prop::set_orig_value()
{
    switch (type) {
    case PYLON_TYPE_UNDEF:
        return true;
    case PYLON_TYPE_INT:
        d_fct.ival->set_new_value(d_fct.ival->orig_value());
        return set_feature();
    case PYLON_TYPE_FLOAT:
    case PYLON_TYPE_ENUMER:
    case PYLON_TYPE_BOOL:
    case PYLON_TYPE_STRING:
    case PYLON_TYPE_COMMAND:
    case PYLON_TYPE_REGISTER:
        return true;
    default:
        printftostderr("pylon", "Unknown property type %d for %s", static_cast<int>(type), node_name.c_str());
        return true;
    }
}

void pylon_prop::print()
{
    if (type == PYLON_TYPE_INT && d_fct.ival) {
        const D_cam_param_int* p = d_fct.ival;
        printftostderr("pylon", "%s  type:%d access:%d first:%d  is_changed:%d  changed:%d value:%d new_value:%d",
                       node_name.c_str(), static_cast<int>(type), static_cast<int>(access), first ? 1 : 0,
                       p->is_changed() ? 1 : 0, p->changed() ? 1 : 0, p->value(), p->new_value());
        return;
    }
    printftostderr("pylon", "%s not set", node_name.c_str());
}
