// The feature tree of a location: building the list of published features from the
// node map's category tree, removing it, the passes over all features (write, limit,
// read-back), lookup by node name, the node-change callback and the feature file.
//
// Threads: the write pass and the limit pass run on the camera thread; creation,
// removal of the root properties, saves and loads run on the host's update thread.
// cbk_mx is held by the write pass, the limit pass, the callback, and the feature-file
// save and load with the load's read-back: the camera thread's end removes the features
// and releases the camera under the same lock, so a save or load never works on freed
// features or a freed camera, and the load's read-back never meets a pass. Callers keep
// creation apart from the passes.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>

#include <mirva/server.h>
#include <pylon/FeaturePersistence.h>

#include "eq_pylon.h"
#include "pylon_lock.h"

using namespace GenApi;

namespace {

// A "CONF.FILE" text must name a file in the server's working directory: no directory
// part, no way up, nothing that a terminal or the file system would misread.
bool config_file_text_safe(const std::string& text)
{
    if (text.find('/') != std::string::npos || text.find("..") != std::string::npos)
        return false;
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f)  // NUL and the other control characters
            return false;
    }
    return true;
}

// The text as it can be shown in one diagnostic line.
std::string printable(const std::string& text)
{
    std::string out;
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\x%02x", u);
            out += esc;
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

bool EqFctPylon::camera_create_features()
{
    camera_remove_features();
    if (!pCamera)
        return true;
    pNodeMap = pCamera->GetDevice()->GetNodeMap();
    CNodePtr root(pNodeMap->GetNode("Root"));
    return camera_create_feature(CCategoryPtr(), root);
}

bool EqFctPylon::camera_create_feature(CCategoryPtr category, const CNodePtr& node)
{
    CCategoryPtr cat(node);
    if (cat.IsValid()) {
        FeatureList_t children;
        cat->GetFeatures(children);
        for (IValue* child : children) {
            if (child)
                camera_create_feature(cat, CNodePtr(child->GetNode()));
        }
        return false;
    }
    // A feature the camera's description cannot evaluate (a formula dividing by zero, a
    // value outside its own limits) is left out; the camera's other features still come up.
    pylon_prop* f = nullptr;
    try {
        f = new pylon_prop(node, category, pNodeMap, this);
    } catch (const GenICam::GenericException& e) {
        printftostderr(name(), "camera_create_feature() feature '%s' left out: %s", node->GetName().c_str(),
                       e.GetDescription());
        err_text_.set_value(std::string("feature ") + node->GetName().c_str() + " left out: " + e.GetDescription());
        return false;
    }
    if (f->type == PYLON_TYPE_UNDEF)
        delete f;
    else
        pylon_prop_.push_back(f);
    return false;
}

bool EqFctPylon::camera_remove_features()
{
    printftostderr(name(), "camera_remove_features() called");
    if (!pCamera)
        return false;
    printftostderr(name(), "let's go");
    for (pylon_prop* f : pylon_prop_) {
        f->remove_properties();
        f->type = PYLON_TYPE_UNDEF;
        delete f;
    }
    pylon_prop_.clear();
    return false;
}

bool EqFctPylon::camera_remove_root_properties()
{
    for (D_cam_param_text_const* p : root_prop_) {
        if (!p)
            continue;
        rem_property(p);
        delete p;
    }
    root_prop_.clear();
    return false;
}

int EqFctPylon::camera_update_features(int mode)
{
    if (exeption)
        return 1;
    if (MIRVA_debug & 64)
        printftostderr(name(), "WE ARE UPDATING %d FEATURES mode:%d", static_cast<int>(pylon_prop_.size()), mode);
    if (mode < 1 || mode > 3) {
        printftostderr(name(), "Invalid update mode %d must be between %d %d", mode, 1, 3);
        return -1;
    }
    if (mode == 1 || mode == 3)
        camera_update_trigger_flags();
    if (!pCamera)
        return -1;

    PthreadLock lock(cbk_mx);
    int n = 0;
    size_t i = 0;
    try {
        for (; i < pylon_prop_.size(); ++i) {
            pylon_prop* f = pylon_prop_[i];
            if ((mode == 2 && f->acq_restart != 0) || (mode == 3 && f->acq_restart == 0))
                continue;
            if (!f->set_feature())
                ++n;
            f->update_readonly();
        }
    } catch (const GenICam::GenericException& e) {
        exeption = true;
        printftostderr(name(), "%s [%d] !!!!!! updateing limit after catching exception _. %s",
                       pylon_prop_[i]->node_name.c_str(), static_cast<int>(i), e.GetDescription());
        err_text_.set_value("feature " + pylon_prop_[i]->node_name + ": " + e.GetDescription());
        lock.unlock();
        g_sts_.online(0);
        return -2;
    }
    lock.unlock();
    if (n > 0 && (MIRVA_debug & 64))
        printftostderr(name(), "WE ARE UPDATING FEATURES FINISHED (updated %d)", n);
    return n;
}

void EqFctPylon::camera_update_limits()
{
    if (exeption || !pCamera)
        return;
    if (MIRVA_debug & 64)
        printftostderr(name(), "WE ARE UPDATING LIMITS: CALLED");
    PthreadLock lock(cbk_mx);  // against a feature-file load's read-back on the host's thread
    for (pylon_prop* f : pylon_prop_)
        f->change_limits();
}

void EqFctPylon::camera_readback_all_features()
{
    if (exeption)
        return;
    if (MIRVA_debug & 64)
        printftostderr(name(), "WE ARE READING BACK %d FEATURES", static_cast<int>(pylon_prop_.size()));
    if (!pCamera)
        return;
    for (pylon_prop* f : pylon_prop_)
        f->update();
}

pylon_prop* EqFctPylon::camera_find_feature_by_name(const char* prop)
{
    if (exeption || !pCamera || !prop)
        return nullptr;
    for (pylon_prop* f : pylon_prop_) {
        if (std::strcmp(prop, f->node_name.c_str()) == 0)
            return f;
    }
    return nullptr;
}

char* EqFctPylon::camera_get_feature_by_name(const char* prop, bool mode)
{
    pylon_prop* f = camera_find_feature_by_name(prop);
    return f ? f->get_value_as_string(mode) : nullptr;
}

bool EqFctPylon::camera_reset_feature_value(const char* prop)
{
    pylon_prop* f = camera_find_feature_by_name(prop);
    return f ? f->update() : true;
}

void EqFctPylon::camera_staticcallback(INode* pNode)
{
    PthreadLock lock(cbk_mx);
    for (pylon_prop* f : pylon_prop_) {
        if (f->node.get() != pNode)
            continue;
        if (!f->locally_changed) {
            printftostderr(name(), "WE HAVE TO CHANGE %s", f->node_name.c_str());
            f->update();
        } else {
            printftostderr(name(), "WE DON'T HAVE TO CHANGE %s", f->node_name.c_str());
            f->locally_changed = false;
        }
        break;
    }
}

namespace {

// The feature file: "<location>.pfs", or "<location>_<CONF.FILE>". Empty when the
// CONF.FILE text is refused (the refusal is reported with the operation's name).
std::string feature_file_name(const EqFctPylon& loc, const std::string& conf, const char* operation)
{
    if (conf.empty())
        return std::string(loc.name()) + ".pfs";
    if (!config_file_text_safe(conf)) {
        printftostderr(loc.name(),
                       "%s refused CONF.FILE \"%s\": the feature file must lie in the working directory "
                       "(no '/', '..' or control characters)",
                       operation, printable(conf).c_str());
        return {};
    }
    return std::string(loc.name()) + "_" + conf;
}

} // namespace

bool EqFctPylon::camera_save_features()
{
    last_config_save = time(nullptr);
    PthreadLock lock(cbk_mx);  // the camera thread's end releases the camera under it
    return save_feature_file();
}

bool EqFctPylon::save_feature_file()
{
    if (exeption)
        return true;
    if (!pCamera) {
        save_config_.set_value(-1);
        return true;
    }
    const std::string file = feature_file_name(*this, config_file_.value(), "camera_save_features()");
    if (file.empty()) {
        save_config_.set_value(-1);
        return true;
    }
    try {
        Pylon::CFeaturePersistence::Save(file.c_str(), pCamera->GetDevice()->GetNodeMap());
        save_config_.set_value(0);
        return false;
    } catch (const GenICam::GenericException& e) {
        exeption = true;
        printftostderr(name(), "camera_save_fatures() An exception occurred! file name: %s error: %s", file.c_str(),
                       e.GetDescription());
        g_sts_.online(0);
        save_config_.set_value(-1);
        return true;
    }
}

namespace {

// The model a feature file names in its "# Device = " header line ("" when none).
std::string file_model(const std::string& file)
{
    std::ifstream in(file);
    std::string line;
    const std::string key = "# Device = ";
    for (int n = 0; n < 8 && std::getline(in, line); ++n) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.compare(0, key.size(), key) == 0)
            return line.substr(key.size());
    }
    return "";
}

// A file saved from another model still loads (the features it names are checked one
// by one), but the client is told: its values were chosen for another camera.
void warn_if_other_model(EqFct& loc, const std::string& file, GenApi::INodeMap& map)
{
    const std::string made_for = file_model(file);
    std::string model = std::string(map.GetDeviceName());
    if (model.empty()) {
        GenApi::CStringPtr name = map.GetNode("DeviceModelName");
        if (name && GenApi::IsReadable(name))
            model = std::string(name->GetValue());
    }
    if (!made_for.empty() && !model.empty() && made_for != model)
        printftostderr(loc.name(), "warning: feature file %s was made for model %s, this camera is model %s",
                       file.c_str(), made_for.c_str(), model.c_str());
}

} // namespace

bool EqFctPylon::camera_load_features()
{
    // The camera thread's passes and its end (which removes the features and releases the
    // camera) wait until the load and its read-back are done.
    PthreadLock lock(cbk_mx);
    if (exeption)
        return true;
    if (!pCamera) {
        load_config_.set_value(-1);
        return true;
    }
    const std::string file = feature_file_name(*this, config_file_.value(), "camera_load_features()");
    if (file.empty()) {
        load_config_.set_value(-1);
        return true;
    }
    struct stat st {};
    if (stat(file.c_str(), &st) != 0) {
        printftostderr(name(), "Problem with conf. file %s ... loading will be skipped", file.c_str());
        load_config_.set_value(-1);
        return true;
    }
    try {
        warn_if_other_model(*this, file, *pCamera->GetDevice()->GetNodeMap());
        Pylon::CFeaturePersistence::Load(file.c_str(), pCamera->GetDevice()->GetNodeMap(), true);
        printftostderr(name(), "Configurstion from %s has been loaded", file.c_str());
        load_config_.set_value(0);
        camera_readback_all_features();
        return false;
    } catch (const GenICam::GenericException& e) {
        printftostderr(name(), "camera_load_fatures() An exception occurred! %s", e.GetDescription());
        load_config_.set_value(-1);
        return true;
    }
}
