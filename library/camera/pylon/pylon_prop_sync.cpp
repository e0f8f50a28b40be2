// Value and limit synchronisation between a feature's node and its properties, and the
// back-end's value setters of the host's camera parameter properties.
//
// None of these takes a lock: the feature tree's passes own the locking (cbk_mx).
#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include <mirva/server.h>

#include "pylon_prop.h"

using namespace GenApi;
using pylon_prop_detail::float_max_inward;
using pylon_prop_detail::float_min_inward;
using pylon_prop_detail::narrow_float;
using pylon_prop_detail::narrow_int;

void D_cam_param_int::set_value(int v)
{
    mirva::D_value<int>::set_value(v);
    std::lock_guard lk(mx_);
    if (value_ == new_value_)
        changed_ = false;
}

void D_cam_param_float::set_value(float v)
{
    mirva::D_value<float>::set_value(v);
    std::lock_guard lk(mx_);
    if (value_ == new_value_)
        changed_ = false;
}

namespace {

template <class P>
bool nothing_pending(const P* p)
{
    return p->new_value() == p->value() && !p->changed();
}

template <class P>
void reset_and_clear(P* p)
{
    p->reset_new_val();
    p->set_changed(false);
}

void report_runtime(const std::string& name, const GenICam::RuntimeException& e)
{
    std::perror("Exception");
    printftostderr("pylon", "  %s  doesn't exists exception %s", name.c_str(), e.what());
}

} // namespace

// Name of enumeration entry k, or the last known entry when k is no stored index
// (a ".NUM" write outside 0 ... N-1 is recorded by the host unclamped).
static const std::string& entry_name(const pylon_prop& f, int k)
{
    if (k >= 0 && k < f.maxVal.ival && f.defaultVal.sval[k])
        return *f.defaultVal.sval[k];
    return *f.currentVal.sval;
}

bool pylon_prop::set_feature()
{
    if (type == PYLON_TYPE_UNDEF)
        return true;
    if (!node.IsValid() || !IsWritable(node)) {
        first = false;
        return true;
    }

    switch (type) {
    case PYLON_TYPE_INT: {
        D_cam_param_int* p = d_fct.ival;
        if (!p || (!first && nothing_pending(p) && !p->whole_pending()) || !p->get_valid())
            break;
        if (p->has_whole_value())
            return set_whole_feature(p);
        // Taken before the pending value: a client's write arriving while the camera is
        // written stays pending instead of being overwritten below.
        const uint64_t taken = p->client_writes();
        CIntegerPtr pInt(node);
        minVal.ival = narrow_int(pInt->GetMin());
        maxVal.ival = narrow_int(pInt->GetMax());
        incVal.ival = narrow_int(pInt->GetInc());
        if (egu_) {
            egu_->set_f1(static_cast<float>(minVal.ival));
            egu_->set_f2(static_cast<float>(maxVal.ival));
        }
        int r = p->new_value();
        const int lo = p->get_min();
        const int hi = p->get_max();
        if (lo < hi && r < lo)
            r = lo;
        else if (lo < hi && r > hi)
            r = hi;
        // Limits of the property that are no range leave the value as it is, but the node
        // takes nothing outside its own (OffsetX at full width allows 0 only): a value it
        // would refuse would take the location off line, and the pending write with it
        // would fail every set-up after.
        if (minVal.ival <= maxVal.ival && (r < minVal.ival || r > maxVal.ival)) {
            const int held = std::clamp(r, minVal.ival, maxVal.ival);
            printftostderr("pylon", "%s %d held to %d, the camera's limits being %d..%d", node_name.c_str(), r, held,
                           minVal.ival, maxVal.ival);
            r = held;
        }
        pInt->SetValue(r, true);
        p->settle_applied(r, taken);
        currentVal.ival = int_value_from_node();
        first = false;
        return false;
    }
    case PYLON_TYPE_FLOAT: {
        D_cam_param_float* p = d_fct.fval;
        if (!p || (!first && nothing_pending(p)) || !p->get_valid())
            break;
        const uint64_t taken = p->client_writes();
        CFloatPtr pFloat(node);
        float r = p->new_value();
        const float lo = p->get_min();
        const float hi = p->get_max();
        if (r < lo)
            r = lo;
        else if (r > hi)
            r = hi;
        pFloat->SetValue(static_cast<double>(r), true);
        p->settle_applied(r, taken);
        currentVal.fval = narrow_float(pFloat->GetValue(false, false));
        first = false;
        return false;
    }
    case PYLON_TYPE_BOOL: {
        D_cam_param_int* p = d_fct.ival;
        if (!p || (!first && nothing_pending(p)) || !p->get_valid())
            break;
        const uint64_t taken = p->client_writes();
        CBooleanPtr pBool(node);
        const int r = p->new_value();
        pBool->SetValue(r != 0, true);
        p->settle_applied(r, taken);
        currentVal.ival = pBool->GetValue(false, false) ? 1 : 0;
        first = false;
        return false;
    }
    case PYLON_TYPE_STRING: {
        D_cam_param_text* p = d_fct.sval;
        if (!p)
            break;
        const std::string s = p->value();
        if (s == *currentVal.sval)
            p->confirm_client_text(s);  // the camera holds it already
        if (s == *currentVal.sval || !p->get_valid())
            break;
        CValuePtr(node)->FromString(s, true);
        *currentVal.sval = s;
        p->confirm_client_text(s);  // applied: no longer a pending client write
        first = false;
        return false;
    }
    case PYLON_TYPE_ENUMER: {
        D_cam_param_text* p = d_fct.sval;
        D_cam_param_int* num = d_fct_inc.ival;
        if (!p || !num || maxVal.ival <= 0)  // no stored entries: nothing published
            break;
        const std::string s = p->value();
        const uint64_t taken = num->client_writes();  // a .NUM write from here on stays pending
        if (s != *currentVal.sval) {
            // The client typed an entry name.
            first = false;
            if (!num->get_valid())
                return true;
            for (int i = 0; i < maxVal.ival; ++i) {
                if (*defaultVal.sval[i] == s) {
                    num->settle_applied(i, taken);
                    CValuePtr(node)->FromString(s, true);
                    *currentVal.sval = s;
                    p->confirm_client_text(s);  // applied: no longer a pending client write
                    return false;
                }
            }
            p->set_value(entry_name(*this, num->value()));
            return true;
        }
        p->confirm_client_text(s);  // a client's text equal to the camera's entry is in force
        // The client may have written the selection number: show its entry now; the
        // camera gets it in the next pass (the text then differs from currentVal).
        if ((!first && nothing_pending(num)) || !num->get_valid())
            break;
        int k = num->new_value();
        if (k < 0)
            k = 0;
        else if (k >= maxVal.ival)
            k = maxVal.ival - 1;
        num->settle_applied(k, taken);
        // The entry's name stands for the client's write until the next pass applies it
        // (kept as a pending client write should the camera go away meanwhile).
        p->client_write(mirva::ClientValue{entry_name(*this, num->value())});
        *currentVal.sval = s;
        first = false;
        try {
            CValuePtr(node)->FromString(s, true);
        } catch (const GenICam::InvalidArgumentException&) {
            printftostderr("pylon", "Setting %s failed", node_name.c_str());
            return true;
        }
        return false;
    }
    case PYLON_TYPE_COMMAND: {
        D_cam_param_int* p = d_fct.ival;
        if (!p || nothing_pending(p))
            break;
        const uint64_t taken = p->client_writes();
        CCommandPtr pCmd(node);
        if (pCmd->IsDone(true) && p->new_value() != 0) {
            printftostderr("pylon", "%s (Execute) ", node_name.c_str());
            pCmd->Execute(true);
        } else if (!pCmd->IsDone(true)) {
            printftostderr("pylon", "Previous command for %s is not yet finished. Ignoring the new one",
                           node_name.c_str());
        }
        p->settle_applied(0, taken);  // a request made meanwhile runs in the next pass
        break;
    }
    case PYLON_TYPE_REGISTER:
        break;
    default:
        printftostderr("pylon", "Unknown property type %d for %s", static_cast<int>(type), node_name.c_str());
        break;
    }
    first = false;
    return true;
}

int pylon_prop::int_value_from_node()
{
    const int64_t v = CIntegerPtr(node)->GetValue(false, false);
    if (d_fct.ival)
        d_fct.ival->set_whole_value(v);
    return narrow_int(v);
}

// The client's whole value goes to the node as it is, clamped to the node's own limits
// (the property's are saturated). Without one, the 32-bit value goes only when it differs
// from the node's value as the property holds it: a saturated value restored from the
// state file must not overwrite the camera's whole value.
bool pylon_prop::set_whole_feature(D_cam_param_int* p)
{
    const uint64_t taken = p->client_writes();
    CIntegerPtr pInt(node);
    const std::optional<int64_t> whole = p->whole_pending();
    int64_t target = 0;
    if (whole) {
        target = *whole;
    } else {
        const int asked = p->new_value();
        if (IsReadable(node) && narrow_int(pInt->GetValue(false, false)) == asked) {
            currentVal.ival = int_value_from_node();
            p->settle_applied(currentVal.ival, taken);
            first = false;
            return false;
        }
        target = asked;
    }
    const int64_t lo = pInt->GetMin();
    const int64_t hi = pInt->GetMax();
    if (lo <= hi)
        target = std::clamp(target, lo, hi);
    pInt->SetValue(target, true);
    currentVal.ival = IsReadable(node) ? int_value_from_node() : narrow_int(target);
    if (!IsReadable(node))
        p->set_whole_value(target);
    p->settle_applied(currentVal.ival, taken);
    if (whole)
        p->clear_whole_pending(*whole);
    first = false;
    return false;
}

bool pylon_prop::update()
{
    if (type == PYLON_TYPE_UNDEF)
        return true;
    try {
        switch (type) {
        case PYLON_TYPE_INT:
        case PYLON_TYPE_FLOAT:
        case PYLON_TYPE_BOOL: {
            const EAccessMode mode = node->GetAccessMode();
            if (IsReadable(mode)) {
                if (type == PYLON_TYPE_INT)
                    currentVal.ival = int_value_from_node();
                else if (type == PYLON_TYPE_FLOAT)
                    currentVal.fval = narrow_float(CFloatPtr(node)->GetValue(false, false));
                else
                    currentVal.ival = CBooleanPtr(node)->GetValue(false, false) ? 1 : 0;
                if (IsWritable(mode)) {
                    if (type == PYLON_TYPE_FLOAT) {
                        d_fct.fval->set_value(currentVal.fval);
                        reset_and_clear(d_fct.fval);
                        d_fct.fval->set_valid(true);
                    } else {
                        d_fct.ival->set_value(currentVal.ival);
                        reset_and_clear(d_fct.ival);
                        d_fct.ival->set_valid(true);
                    }
                }
            } else if (type == PYLON_TYPE_FLOAT) {
                reset_and_clear(d_fct.fval);  // a pending write is dropped
            } else {
                reset_and_clear(d_fct.ival);
            }
            return false;
        }
        case PYLON_TYPE_ENUMER: {
            D_cam_param_int* num = d_fct_inc.ival;
            if (!num || maxVal.ival <= 0)
                return false;
            const EAccessMode mode = node->GetAccessMode();
            if (!IsReadable(mode)) {
                reset_and_clear(num);
                return false;
            }
            if (!IsWritable(mode))
                return false;
            const std::string t = CValuePtr(node)->ToString(false, false);
            for (int i = 0; i < maxVal.ival; ++i) {
                if (*defaultVal.sval[i] == t) {
                    num->set_value(i);
                    num->reset_new_val();
                    num->set_valid(true);
                    *currentVal.sval = t;
                    num->set_changed(false);
                    d_fct.sval->set_value(entry_name(*this, num->value()));
                    return false;
                }
            }
            printftostderr("pylon", "%s value not found %s", node_name.c_str(), t.c_str());
            std::fflush(nullptr);
            return false;
        }
        case PYLON_TYPE_STRING: {
            const EAccessMode mode = node->GetAccessMode();
            if (!IsReadable(mode))
                return false;
            *currentVal.sval = CValuePtr(node)->ToString(false, false);
            if (IsWritable(mode)) {
                d_fct.sval->set_value(*currentVal.sval);
                d_fct.sval->set_valid(true);
            }
            return false;
        }
        case PYLON_TYPE_COMMAND: {
            const EAccessMode mode = node->GetAccessMode();
            D_cam_param_int* p = d_fct.ival;
            if (IsReadable(mode) || IsWritable(mode)) {
                const int d = CCommandPtr(node)->IsDone(true) ? 1 : 0;
                currentVal.ival = d;
                if (IsWritable(mode)) {
                    p->set_value(1 - d);  // 1 while the command runs
                    reset_and_clear(p);
                    p->set_valid(true);
                }
            } else {
                reset_and_clear(p);
            }
            return false;
        }
        default:
            return true;
        }
    } catch (const GenICam::RuntimeException& e) {
        report_runtime(node_name, e);
        return true;
    }
}

bool pylon_prop::update_readonly()
{
    if (type == PYLON_TYPE_UNDEF || !node.IsValid())
        return true;
    try {
        const EAccessMode mode = node->GetAccessMode();
        if (!IsReadable(mode))
            return true;
        // A node that is writable now is left to set_feature and update.
        const bool writable = IsWritable(mode);
        switch (type) {
        case PYLON_TYPE_INT:
        case PYLON_TYPE_BOOL: {
            if (writable)
                return false;
            const int v = type == PYLON_TYPE_INT ? int_value_from_node()
                                                 : (CBooleanPtr(node)->GetValue(false, false) ? 1 : 0);
            currentVal.ival = v;
            d_fct.ival->set_value(v);
            d_fct.ival->reset_new_val();
            d_fct.ival->set_valid(true);
            return false;
        }
        case PYLON_TYPE_FLOAT: {
            if (writable)
                return false;
            const float v = narrow_float(CFloatPtr(node)->GetValue(false, false));
            currentVal.fval = v;
            d_fct.fval->set_value(v);
            d_fct.fval->reset_new_val();
            d_fct.fval->set_valid(true);
            return false;
        }
        case PYLON_TYPE_ENUMER:
            if (!d_fct.sval || !d_fct_inc.ival)
                return true;  // no stored entries: nothing published
            if (writable)
                return false;
            *currentVal.sval = CValuePtr(node)->ToString(false, false);
            d_fct.sval->set_value(*currentVal.sval);
            d_fct.sval->set_valid(true);
            d_fct_inc.ival->set_valid(true);
            return false;
        case PYLON_TYPE_STRING:
            if (writable)
                return false;
            *currentVal.sval = CStringPtr(node)->GetValue(false, false);
            d_fct.sval->set_value(*currentVal.sval);
            d_fct.sval->set_valid(true);
            return false;
        case PYLON_TYPE_COMMAND: {
            const int d = CCommandPtr(node)->IsDone(true) ? 1 : 0;
            currentVal.ival = d;
            d_fct.ival->set_value(1 - d);
            d_fct.ival->reset_new_val();
            d_fct.ival->set_valid(true);
            return false;
        }
        default:
            return true;
        }
    } catch (const GenICam::RuntimeException& e) {
        report_runtime(node_name, e);
        return true;
    }
}

// Writable: ".ACCESS" says so, or else the node's access mode does now.
static bool feature_writable(const pylon_prop& f)
{
    if (f.access_ && f.access_->value() != 0)
        return true;
    return f.node.IsValid() && IsWritable(f.node->GetAccessMode());
}

namespace {

// Steps 4 and 5 of the limit pass for one numeric main property.
template <class P, class T>
bool apply_limits(P* p, T lo, T hi, const std::function<void()>& reread_value)
{
    const uint64_t taken = p->client_writes();
    const T pending = p->new_value();
    const bool same_limits = p->get_min() == lo && p->get_max() == hi;
    if (same_limits && pending >= lo && pending <= hi && pending == p->value())
        return true;
    if (p->get_min() != lo)
        p->set_min(lo);
    if (p->get_max() != hi)
        p->set_max(hi);
    const T v = p->value();
    if (v < lo || v > hi) {
        // Show the clamped value and mark it pending, so the next write pass sends it. A
        // client's write still pending (or arriving now) is sent instead: it is newer than
        // the value the limits cut.
        const T bound = v < lo ? lo : hi;
        if (pending == v)
            p->offer_pending(bound, taken);
        p->set_value(bound);
        p->set_changed(true);
        reread_value();
        return false;
    }
    // Inside the limits. A client's write that is still pending stays so: the next write
    // pass sends it to the camera, held to these limits. Taking it as the value here would
    // show it as applied while the camera never got it.
    return same_limits;
}

} // namespace

bool pylon_prop::change_limits()
{
    if (type == PYLON_TYPE_UNDEF)
        return true;
    try {
        if (!feature_writable(*this))
            return true;
        if (type == PYLON_TYPE_INT) {
            if (!d_fct.ival)
                return true;
            CIntegerPtr pInt(node);
            minVal.ival = narrow_int(pInt->GetMin());
            maxVal.ival = narrow_int(pInt->GetMax());
            if (egu_) {
                egu_->set_f1(static_cast<float>(minVal.ival));
                egu_->set_f2(static_cast<float>(maxVal.ival));
            }
            return apply_limits(d_fct.ival, minVal.ival, maxVal.ival, [&] {
                if (IsReadable(node))
                    currentVal.ival = int_value_from_node();
            });
        }
        if (type == PYLON_TYPE_FLOAT) {
            if (!d_fct.fval)
                return true;
            CFloatPtr pFloat(node);
            // Rounded inward as at construction: a clamped write must be one the node accepts.
            minVal.fval = float_min_inward(pFloat->GetMin());
            maxVal.fval = float_max_inward(pFloat->GetMax());
            if (egu_) {
                egu_->set_f1(minVal.fval);
                egu_->set_f2(maxVal.fval);
            }
            if (minVal.fval > maxVal.fval)
                printftostderr("pylon", "!!!!!!!!!! %s !!!!!!!!!!! min > max %f > %f", node_name.c_str(),
                               static_cast<double>(minVal.fval), static_cast<double>(maxVal.fval));
            return apply_limits(d_fct.fval, minVal.fval, maxVal.fval, [&] {
                if (IsReadable(node))
                    currentVal.fval = narrow_float(pFloat->GetValue(false, false));
            });
        }
        return true;
    } catch (const GenICam::RuntimeException& e) {
        report_runtime(node_name, e);
        return true;
    }
}

bool pylon_prop::is_changed()
{
    if (type == PYLON_TYPE_UNDEF)
        return false;
    try {
        if (!feature_writable(*this))
            return false;
        switch (type) {
        case PYLON_TYPE_INT:
        case PYLON_TYPE_BOOL:
            return d_fct.ival && (d_fct.ival->is_changed() || d_fct.ival->whole_pending());
        case PYLON_TYPE_FLOAT:
            return d_fct.fval && d_fct.fval->is_changed();
        case PYLON_TYPE_ENUMER: {
            D_cam_param_int* num = d_fct_inc.ival;
            if (!d_fct.sval || !num)
                return false;
            const std::string text = d_fct.sval->value();
            if (text != *currentVal.sval)
                return true;
            d_fct.sval->confirm_client_text(text);  // a client's text equal to the camera's is in force
            if (num->new_value() != num->value())
                return true;
            return num->changed();
        }
        case PYLON_TYPE_STRING: {
            if (!d_fct.sval)
                return false;
            const std::string text = d_fct.sval->value();
            if (text != *currentVal.sval)
                return true;
            d_fct.sval->confirm_client_text(text);  // a client's text equal to the camera's is in force
            return false;
        }
        case PYLON_TYPE_COMMAND:
            if (d_fct.ival && d_fct.ival->is_changed()) {
                printftostderr("pylon", "%s is changed", node_name.c_str());
                return true;
            }
            return false;
        case PYLON_TYPE_REGISTER:
            return false;
        default:
            printftostderr("pylon", "Unknown property type %d for %s", static_cast<int>(type), node_name.c_str());
            return false;
        }
    } catch (const GenICam::RuntimeException& e) {
        report_runtime(node_name, e);
        return false;
    }
}
