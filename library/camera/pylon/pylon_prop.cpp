// pylon_prop construction: decides whether a GenICam node is published and creates
// the group of location properties of its kind. The name tables live here too.
#include "pylon_prop.h"

#include <cctype>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <mirva/server.h>

using namespace GenApi;
using mirva::FeaturePresentation;

// Four names occur twice; the duplicates are harmless and kept as the list was given.
const char* const PYLON_FEATURES_BLACK_LIST[] = {
    "GevCurrentIPConfiguration", "GevPersistentIPAddress", "GevPersistentSubnetMask",
    "GevPersistentDefaultGateway", "ExpertFeatureAccessKey", "GevSCPHostPort", "GevHeartbeatTimeout",
    "GevSCDA", "FileArg1", "FileArg0", "FileXCHGInteger", "FileAttributeID", "FileAttributeSize",
    "FileAttributeCRC", "FileAttributeStatus", "FileAccessOffset", "FileAccessLength", "LineMode",
    "CounterEventSource", "TLParamsLocked", "AutoTargetValue", "DigitalShift", "TimerDelayTimebaseAbs",
    "TimerDurationTimebaseAbs", "TimerSelector", "TimerDelayAbs", "TimerDelayRaw", "TimerDurationAbs",
    "TimerDurationRaw", "TimerTriggerSource", "TimerTriggerActivation", "CounterSelector",
    "CounterEventSource", "CounterResetSource", "LUTSelector", "LUTEnable", "LUTIndex", "LUTValue",
    "UserDefinedValueSelector", "UserDefinedValue", "ChunkModeActive", "EventSelector",
    "EventNotification", "UserSetSelector", "UserSetLoad", "UserSetSave", "UserSetDefaultSelector",
    "TLParamsLocked", "FileArg1", "ExpertFeatureAccessSelector", "ExpertFeatureAccessKey",
};
const int PYLON_FEATURES_BLACK_LIST_SIZE =
    static_cast<int>(sizeof(PYLON_FEATURES_BLACK_LIST) / sizeof(PYLON_FEATURES_BLACK_LIST[0]));

const char* const PYLON_ACQ_CATEGORIES_LIST[] = {
    "Analog Controls", "Image Format Controls", "AOI Controls", "Acquisition Controls",
    "Counter and Timer Controls", "Chunk Data Streams", "Chunk Data", "Configuration Sets",
    "Transport Layer", "Statistic",
};
const int PYLON_ACQ_CATEGORIES_LIST_SIZE =
    static_cast<int>(sizeof(PYLON_ACQ_CATEGORIES_LIST) / sizeof(PYLON_ACQ_CATEGORIES_LIST[0]));

namespace {

constexpr size_t MAIN_TEXT_MAX = 62;  // main property text
constexpr size_t SUB_TEXT_MAX = 63;   // sub-property texts and the base name

std::string cut(std::string s, size_t n)
{
    if (s.size() > n)
        s.resize(n);
    return s;
}

const char* visibility_name(EVisibility v)
{
    switch (v) {
    case Beginner: return "Beginner";
    case Expert: return "Expert";
    case Guru: return "Guru";
    case Invisible: return "Invisible";
    default: return "";
    }
}

const char* representation_name(ERepresentation r)
{
    switch (r) {
    case Linear: return "Linear";
    case Logarithmic: return "Logarithmic";
    case Boolean: return "Boolean";
    case PureNumber: return "PureNumber";
    case HexNumber: return "HexNumber";
    case IPV4Address: return "IPV4Address";
    case MACAddress: return "MACAddress";
    default: return "";
    }
}

// Display names of the categories from below "Root" down to target, found by walking the
// node map's category tree from the root (the nodes know their features, not their category).
bool category_path(const CCategoryPtr& from, INode* target, std::vector<std::string>& path, int depth = 0)
{
    if (depth > 16)  // a description whose categories contain each other
        return false;
    FeatureList_t children;
    from->GetFeatures(children);
    for (IValue* child : children) {
        CCategoryPtr sub(child ? child->GetNode() : nullptr);
        if (!sub.IsValid())
            continue;
        path.push_back(sub->GetNode()->GetDisplayName());
        if (sub->GetNode() == target || category_path(sub, target, path, depth + 1))
            return true;
        path.pop_back();
    }
    return false;
}

FeaturePresentation presentation_of(const CNodePtr& node, const CCategoryPtr& category, INodeMap* map)
{
    FeaturePresentation p;
    p.display_name = node->GetDisplayName();
    p.visibility = visibility_name(node->GetVisibility());
    if (CIntegerPtr i(node); i.IsValid())
        p.representation = representation_name(i->GetRepresentation());
    else if (CFloatPtr f(node); f.IsValid())
        p.representation = representation_name(f->GetRepresentation());
    if (category.IsValid()) {
        INode* own = category->GetNode();
        bool found = false;
        try {
            CCategoryPtr root(map ? map->GetNode("Root") : nullptr);
            found = root.IsValid() && root->GetNode() != own && category_path(root, own, p.category_path);
        } catch (const GenICam::GenericException&) {
            // a category the description cannot evaluate: the feature keeps its own category only
        }
        if (!found) {
            p.category_path.clear();
            p.category_path.push_back(own->GetDisplayName());
        }
    }
    return p;
}

} // namespace

using pylon_prop_detail::float_max_inward;
using pylon_prop_detail::float_min_inward;
using pylon_prop_detail::narrow_float;
using pylon_prop_detail::narrow_int;

pylon_prop::pylon_prop(const CNodePtr& nd, CCategoryPtr categ, INodeMap* map, EqFct* fc)
    : fct(fc), node(nd), category(categ), pNodeMap(map)
{
    try {
        create();
    } catch (...) {
        // The node failed while being read: the caller never gets the object, so what it
        // made goes now, the properties registered so far included (they would stay
        // published without an owner).
        remove_properties();
        throw;
    }
}

void pylon_prop::release_strings()
{
    if (type == PYLON_TYPE_ENUMER) {
        for (int i = 0; i < maxVal.ival && i < PYLON_MAX_ENUM_ENTRIES; ++i) {
            delete defaultVal.sval[i];
            defaultVal.sval[i] = nullptr;
            delete svaldescr[i];
            svaldescr[i] = nullptr;
        }
        maxVal.ival = 0;
    }
    if (type == PYLON_TYPE_ENUMER || type == PYLON_TYPE_STRING) {
        delete currentVal.sval;
        currentVal.sval = nullptr;
    }
}

namespace {

template <class P>
void drop_property(EqFct* fct, P*& p)
{
    if (!p)
        return;
    if (fct)
        fct->rem_property(p);
    delete p;
    p = nullptr;
}

} // namespace

void pylon_prop::remove_properties()
{
    // The main property and d_fct_inc by the member their kind uses.
    switch (type) {
    case PYLON_TYPE_INT:
    case PYLON_TYPE_BOOL:
    case PYLON_TYPE_COMMAND:
        drop_property(fct, d_fct.ival);
        break;
    case PYLON_TYPE_FLOAT:
        drop_property(fct, d_fct.fval);
        break;
    case PYLON_TYPE_ENUMER:
    case PYLON_TYPE_STRING:
        drop_property(fct, d_fct.sval);
        break;
    default:
        break;
    }
    switch (type) {
    case PYLON_TYPE_INT:
    case PYLON_TYPE_BOOL:
        drop_property(fct, d_fct_inc.ivalc);
        break;
    case PYLON_TYPE_FLOAT:
        drop_property(fct, d_fct_inc.fvalc);
        break;
    case PYLON_TYPE_ENUMER:
        drop_property(fct, d_fct_inc.ival);
        break;
    case PYLON_TYPE_STRING:
        drop_property(fct, d_fct_inc.svalc);
        break;
    default:
        break;
    }
    drop_property(fct, type_);
    drop_property(fct, egu_);
    drop_property(fct, sl_);
    drop_property(fct, descr_);
    drop_property(fct, category_);
    drop_property(fct, access_);
    release_strings();
}

void pylon_prop::create()
{
    if (!node.IsValid()) {
        implemented = false;
        return;
    }
    const EAccessMode mode = node->GetAccessMode();
    if (mode == NI) {
        implemented = false;
        return;
    }
    implemented = true;
    if (mode == NA) {
        available = false;
        return;
    }
    available = true;

    access = mode;
    acq_restart = 0;
    std::string categ_text;
    const bool categ_readable = category.IsValid() && IsReadable(category);
    if (categ_readable) {
        categ_text = category->ToString(false, false);
        for (int i = 0; i < PYLON_ACQ_CATEGORIES_LIST_SIZE; ++i) {
            if (categ_text == PYLON_ACQ_CATEGORIES_LIST[i]) {
                acq_restart = 1;
                break;
            }
        }
    }

    feature = node->IsFeature();
    name_space = static_cast<int>(node->GetNameSpace());

    const std::string name = node->GetName();
    for (int i = 0; i < PYLON_FEATURES_BLACK_LIST_SIZE; ++i) {
        if (name == PYLON_FEATURES_BLACK_LIST[i]) {
            acq_restart = 0;
            return;
        }
    }

    if (!IsReadable(mode) && !IsWritable(mode)) {
        printftostderr("pylon", "%s NOT READABLE will be skipped", name.c_str());
        return;
    }

    // The first interface the node offers decides (an integer register is an integer).
    CIntegerPtr pInt(node);
    CFloatPtr pFloat(node);
    CEnumerationPtr pEnum(node);
    CBooleanPtr pBool(node);
    CStringPtr pString(node);
    CCommandPtr pCommand(node);
    CRegisterPtr pRegister(node);
    pylon_types kind = PYLON_TYPE_UNDEF;
    if (pInt.IsValid())
        kind = PYLON_TYPE_INT;
    else if (pFloat.IsValid())
        kind = PYLON_TYPE_FLOAT;
    else if (pEnum.IsValid())
        kind = PYLON_TYPE_ENUMER;
    else if (pBool.IsValid())
        kind = PYLON_TYPE_BOOL;
    else if (pString.IsValid())
        kind = PYLON_TYPE_STRING;
    else if (pCommand.IsValid())
        kind = PYLON_TYPE_COMMAND;
    else if (pRegister.IsValid())
        kind = PYLON_TYPE_REGISTER;

    node_name = name;
    std::string base;
    base.reserve(node_name.size());
    for (char c : node_name)
        base.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    base = cut(std::move(base), SUB_TEXT_MAX);

    const std::string description = node->GetDescription();
    std::string main_text = cut(base + " " + description, MAIN_TEXT_MAX);
    if (fct && fct->find_property(main_text.c_str())) {
        printftostderr("pylon", "%s WE HAVE TO APPEND PYLON TO GET UNIQUE PROP NAME", base.c_str());
        main_text = cut(base + ".PYLON " + description, MAIN_TEXT_MAX);
    }

    auto sub = [&](const char* suffix) { return cut(base + suffix, SUB_TEXT_MAX); };
    // Every property is registered right after it is made and only then given its value.
    auto reg = [&](auto* p) {
        fct->add_property(p, 2);
        return p;
    };
    const bool writable = IsWritable(mode);
    // A write-only node has no value to read; its property value replaces it anyway.
    const bool readable = IsReadable(mode);
    const std::string categ_value = categ_readable ? categ_text : std::string("Category is not readable");
    auto type_access = [&]() {
        type_ = reg(new D_cam_param_int_const(sub(".TYPE type of feature").c_str(), fct));
        type_->set_value(static_cast<int>(type));
        access_ = reg(new D_cam_param_int_const(sub(".ACCESS access type (0-readable 1-writable)").c_str(), fct));
        access_->set_value(writable ? 1 : 0);
    };
    auto desc_categ = [&]() {
        descr_ = reg(new D_cam_param_text_const(sub(".DESC feature description").c_str(), fct));
        descr_->set_value(description);
        category_ = reg(new D_cam_param_text_const(sub(".CATEG category of the feature ").c_str(), fct));
        category_->set_value(categ_value);
    };

    switch (kind) {
    case PYLON_TYPE_INT: {
        type = PYLON_TYPE_INT;
        minVal.ival = narrow_int(pInt->GetMin());
        maxVal.ival = narrow_int(pInt->GetMax());
        if (readable)
            currentVal.ival = narrow_int(pInt->GetValue(false, false));
        incVal.ival = narrow_int(pInt->GetInc());
        d_fct.ival = reg(new D_cam_param_int(main_text.c_str(), minVal.ival, maxVal.ival, fct));
        if (pInt->GetMin() < INT32_MIN || pInt->GetMax() > INT32_MAX) {
            // A MAC address, an unsigned 32-bit address or a 64-bit counter: clients get
            // the whole value beside the saturated one.
            d_fct.ival->set_whole_limits(pInt->GetMin(), pInt->GetMax());
            if (readable)
                d_fct.ival->set_whole_value(pInt->GetValue(false, false));
        }
        currentVal.ival = d_fct.ival->value();
        d_fct.ival->new_init();
        const std::string unit = pInt->GetUnit();
        type_access();
        egu_ = reg(new D_ustr(sub(".EGU f1->min, f2->max, str->units").c_str(), fct));
        egu_->set_f1(static_cast<float>(minVal.ival));
        egu_->set_f2(static_cast<float>(maxVal.ival));
        egu_->set_str(unit.c_str());
        d_fct_inc.ivalc = reg(new D_cam_param_int_const(sub((".INC allowed increment in " + unit).c_str()).c_str(), fct));
        d_fct_inc.ivalc->set_value(incVal.ival);
        desc_categ();
        break;
    }
    case PYLON_TYPE_FLOAT: {
        type = PYLON_TYPE_FLOAT;
        // Rounded inward, so that a write clamped to them is one the node accepts.
        minVal.fval = float_min_inward(pFloat->GetMin());
        maxVal.fval = float_max_inward(pFloat->GetMax());
        if (readable)
            currentVal.fval = narrow_float(pFloat->GetValue(false, false));
        incVal.fval = pFloat->HasInc() ? narrow_float(pFloat->GetInc()) : 0.0f;
        if (minVal.fval > maxVal.fval)
            printftostderr("pylon", "!!!!!!!!!! %s !!!!!!!!!!! min > max %f > %f", node_name.c_str(),
                           static_cast<double>(minVal.fval), static_cast<double>(maxVal.fval));
        d_fct.fval = reg(new D_cam_param_float(main_text.c_str(), minVal.fval, maxVal.fval, fct));
        currentVal.fval = d_fct.fval->value();
        d_fct.fval->new_init();
        const std::string unit = pFloat->GetUnit();
        type_access();
        egu_ = reg(new D_ustr(sub(".EGU f1->min, f2->max, str->units").c_str(), fct));
        egu_->set_f1(minVal.fval);
        egu_->set_f2(maxVal.fval);
        egu_->set_str(unit.c_str());
        d_fct_inc.fvalc =
            reg(new D_cam_param_float_const(sub((".INC allowed increment in " + unit).c_str()).c_str(), fct));
        d_fct_inc.fvalc->set_value(incVal.fval);
        desc_categ();
        break;
    }
    case PYLON_TYPE_ENUMER: {
        type = PYLON_TYPE_ENUMER;
        minVal.ival = 0;
        maxVal.ival = 0;
        currentVal.sval = new std::string(readable ? pEnum->ToString(false, false) : gcstring());
        NodeList_t entries;
        pEnum->GetEntries(entries);
        int n = 0;
        for (INode* entry : entries) {
            if (!entry)
                continue;
            const EAccessMode em = entry->GetAccessMode();
            if (em == NI || em == NA)
                continue;
            CEnumEntryPtr pEntry(entry);
            // An entry without IEnumEntry raises "NULL pointer dereferenced" here.
            std::string symbolic = pEntry->GetSymbolic();
            std::string display = entry->GetDisplayName();
            defaultVal.sval[n] = new std::string(std::move(symbolic));
            svaldescr[n] = new std::string(std::move(display));
            maxVal.ival = ++n;
            if (n == PYLON_MAX_ENUM_ENTRIES) {
                printftostderr("pylon", "%s maximum number of selections:%d exeeded !!!", node_name.c_str(),
                               PYLON_MAX_ENUM_ENTRIES);
                break;
            }
        }
        if (n == 0) {
            printftostderr("pylon", "%s NO VALUE FOR SELECTION TO WRITE !!! will be skipped", node_name.c_str());
            return;
        }
        d_fct.sval = reg(new D_cam_param_text(main_text.c_str(), fct));
        char range[32];
        std::snprintf(range, sizeof range, "(0...%d)", n - 1);
        D_cam_param_int* num =
            reg(new D_cam_param_int(sub((std::string(".NUM selection as a number ") + range).c_str()).c_str(), 0,
                                    n - 1, fct));
        d_fct_inc.ival = num;
        const int k = num->value();
        if (k >= 0 && k < n) {
            // A selection number restored by the host wins over the camera's entry.
            d_fct.sval->set_value(*defaultVal.sval[k]);
            *currentVal.sval = *defaultVal.sval[k];
        } else {
            int found = -1;
            for (int i = 0; i < n; ++i) {
                if (*defaultVal.sval[i] == *currentVal.sval) {
                    found = i;
                    break;
                }
            }
            if (found >= 0)
                num->set_value(found);
            else
                printftostderr("pylon", "%s NO VALUE FOR SELECTION TO FOUND ???", node_name.c_str());
        }
        num->new_init();
        type_access();
        std::string list;
        for (int i = 0; i < n; ++i) {
            if (i)
                list += ';';
            list += *defaultVal.sval[i];
            list += '|';
            list += std::to_string(i);
        }
        sl_ = reg(new D_cam_param_text_const(sub(".SL selection list").c_str(), fct));
        sl_->set_value(list);
        desc_categ();
        break;
    }
    case PYLON_TYPE_BOOL: {
        type = PYLON_TYPE_BOOL;
        minVal.ival = 0;
        maxVal.ival = 1;
        currentVal.ival = readable && pBool->GetValue(false, false) ? 1 : 0;
        incVal.ival = 1;
        d_fct.ival = reg(new D_cam_param_int(main_text.c_str(), 0, 1, fct));
        currentVal.ival = d_fct.ival->value();
        d_fct.ival->new_init();
        type_access();
        egu_ = reg(new D_ustr(sub(".EGU f1->min, f2->max, str->units").c_str(), fct));
        egu_->set_f1(0.0f);
        egu_->set_f2(1.0f);
        d_fct_inc.ivalc = reg(new D_cam_param_int_const(sub(".INC allowed increment in boolean").c_str(), fct));
        d_fct_inc.ivalc->set_value(1);
        desc_categ();
        break;
    }
    case PYLON_TYPE_STRING: {
        type = PYLON_TYPE_STRING;
        minVal.ival = 0;
        maxVal.ival = narrow_int(pString->GetMaxLength());
        currentVal.sval = new std::string(readable ? pString->GetValue(false, false) : gcstring());
        incVal.ival = 1;
        d_fct.sval = reg(new D_cam_param_text(main_text.c_str(), fct));
        *currentVal.sval = d_fct.sval->value();
        type_access();
        egu_ = reg(new D_ustr(sub(".EGU f1->min size, f2->max size, str->units").c_str(), fct));
        egu_->set_f1(0.0f);
        egu_->set_f2(static_cast<float>(maxVal.ival));
        d_fct_inc.svalc = reg(new D_cam_param_text_const(sub(".INC allowed increment in char").c_str(), fct));
        d_fct_inc.svalc->set_value("char");
        desc_categ();
        break;
    }
    case PYLON_TYPE_COMMAND: {
        type = PYLON_TYPE_COMMAND;
        minVal.ival = 0;
        maxVal.ival = 1;
        currentVal.ival = pCommand->IsDone(true) ? 1 : 0;
        incVal.ival = 1;
        d_fct.ival = reg(new D_cam_param_int(main_text.c_str(), 0, 1, fct));
        d_fct.ival->set_value(0);
        d_fct.ival->reset_new_val();
        currentVal.ival = d_fct.ival->value();
        type_access();
        desc_categ();
        break;
    }
    case PYLON_TYPE_REGISTER:
        type = PYLON_TYPE_REGISTER;
        printftostderr("pylon", "%s PYLON_TYPE_REGISTER NOT YET SUPPORTED will be skipped", node_name.c_str());
        break;
    default:
        printftostderr("pylon", "%s UNKNOWN TYPE !!! will be skipped", node_name.c_str());
        break;
    }
    // Viewers show the camera's own names, levels and notation beside the property.
    D_fct* main = nullptr;
    switch (type) {
    case PYLON_TYPE_INT:
    case PYLON_TYPE_BOOL:
    case PYLON_TYPE_COMMAND: main = d_fct.ival; break;
    case PYLON_TYPE_FLOAT: main = d_fct.fval; break;
    case PYLON_TYPE_ENUMER:
    case PYLON_TYPE_STRING: main = d_fct.sval; break;
    default: break;
    }
    if (main)
        main->set_presentation(presentation_of(node, category, pNodeMap));
}
