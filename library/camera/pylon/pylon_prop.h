// One published camera feature: the wrapper of one GenICam node with its group of
// location properties (value, ".TYPE", ".ACCESS", ".EGU", ".INC", ".NUM", ".SL",
// ".DESC", ".CATEG").
#pragma once

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <string>

#include <GenApi/GenApi.h>
#include <mirva/d_cam_param.h>
#include <mirva/d_fct.h>
#include <mirva/eq_fct.h>

enum pylon_types : int32_t {
    PYLON_TYPE_UNDEF = 0,
    PYLON_TYPE_INT = 1,
    PYLON_TYPE_FLOAT = 2,
    PYLON_TYPE_ENUMER = 3,
    PYLON_TYPE_BOOL = 4,
    PYLON_TYPE_STRING = 5,
    PYLON_TYPE_COMMAND = 6,
    PYLON_TYPE_REGISTER = 7,
};

// Features never published, and the categories whose features need an acquisition restart.
extern const char* const PYLON_FEATURES_BLACK_LIST[];
extern const int PYLON_FEATURES_BLACK_LIST_SIZE;
extern const char* const PYLON_ACQ_CATEGORIES_LIST[];
extern const int PYLON_ACQ_CATEGORIES_LIST_SIZE;

constexpr int PYLON_MAX_ENUM_ENTRIES = 64;

namespace pylon_prop_detail {
// Node values are 64-bit; the properties hold 32 bits. Values beyond that range saturate
// at its ends: keeping the low 32 bits would turn the limits of an unbounded node or a
// 64-bit counter into [0, -1], and the limit pass would then rewrite the value each pass.
inline int narrow_int(int64_t v)
{
    if (v > INT32_MAX)
        return INT32_MAX;
    if (v < INT32_MIN)
        return INT32_MIN;
    return static_cast<int>(v);
}
// Node doubles to the properties' floats, saturating at +-FLT_MAX instead of overflowing.
inline float narrow_float(double v)
{
    if (v > static_cast<double>(FLT_MAX))
        return FLT_MAX;
    if (v < -static_cast<double>(FLT_MAX))
        return -FLT_MAX;
    return static_cast<float>(v);  // NaN stays NaN
}
// Float limits of a node's limits, rounded inward: a clamped write of a minimum rounded
// down (or a maximum rounded up) would lie outside the node's range and be refused.
inline float float_min_inward(double node_min)
{
    float f = narrow_float(node_min);
    if (static_cast<double>(f) < node_min)
        f = std::nextafterf(f, FLT_MAX);
    return f;
}
inline float float_max_inward(double node_max)
{
    float f = narrow_float(node_max);
    if (static_cast<double>(f) > node_max)
        f = std::nextafterf(f, -FLT_MAX);
    return f;
}
} // namespace pylon_prop_detail

class pylon_prop {
public:
    pylon_prop(const GenApi::CNodePtr& nd, GenApi::CCategoryPtr categ, GenApi::INodeMap* map, EqFct* fc);

    // Value and limit synchronisation between node and properties.
    bool update();
    bool update_readonly();
    bool set_feature();
    bool change_limits();
    bool is_changed();
    // The integer node's value as the property holds it (saturated to 32 bits); a feature
    // wider than that also shows the whole value beside it.
    int int_value_from_node();

    // Read-out and diagnostics.
    bool set_orig_value();
    char* get_value_as_string(bool mode);
    float get_value_as_float();
    void print();

    // Unregisters every property of the feature from the location, destroys it and
    // clears its pointer, then frees the owned strings (release_strings).
    void remove_properties();
    // Frees the owned heap strings (enumeration entry names and display names, the
    // current text of enumerations and strings); the entry count becomes 0.
    void release_strings();

    EqFct* fct;
    GenApi::CNodePtr node;
    GenApi::CCategoryPtr category;
    bool implemented = false;
    bool available = false;
    bool feature = false;
    int name_space = 0;
    GenApi::EAccessMode access = GenApi::NI;
    pylon_types type = PYLON_TYPE_UNDEF;
    int acq_restart = 0;
    GenApi::INodeMap* pNodeMap;
    std::string node_name;
    GenApi::CallbackHandleType hcb = 0;
    bool locally_changed = false;

    union {
        D_cam_param_float* fval;
        D_cam_param_int* ival;
        D_cam_param_text* sval;
        D_cam_param_double* dval;
    } d_fct{};
    union {
        D_cam_param_float_const* fvalc;
        D_cam_param_int_const* ivalc;
        D_cam_param_int* ival;
        D_cam_param_text_const* svalc;
        D_cam_param_double_const* dvalc;
    } d_fct_inc{};
    D_cam_param_int_const* type_ = nullptr;
    D_cam_param_int_const* access_ = nullptr;
    D_ustr* egu_ = nullptr;
    D_cam_param_text_const* sl_ = nullptr;
    D_cam_param_text_const* descr_ = nullptr;
    D_cam_param_text_const* category_ = nullptr;

    union {
        double dval;
        float fval;
        int ival;
        std::string* sval;
    } currentVal{};
    union {
        double dval;
        float fval;
        int ival;
    } minVal{}, maxVal{}, incVal{};
    union {
        double dval;
        float fval;
        int ival;
        std::string* sval[PYLON_MAX_ENUM_ENTRIES];
    } defaultVal{};
    std::string* svaldescr[PYLON_MAX_ENUM_ENTRIES] = {};
    bool first = true;

private:
    void create();  // the construction steps after the members are initialised
    bool set_whole_feature(D_cam_param_int* p);  // set_feature of an integer wider than 32 bits
};
