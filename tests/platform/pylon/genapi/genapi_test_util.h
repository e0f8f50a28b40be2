// Small camera descriptions for the node map tests.
#pragma once

#include <memory>
#include <string>

#include <GenApi/GenApi.h>

namespace genapi_test {

// Wraps node definitions into a description whose Root lists `features` (pFeature elements).
inline std::string Description(const std::string& nodes, const std::string& features = "") {
    return "<?xml version=\"1.0\"?>\n"
           "<RegisterDescription ModelName=\"TestCam\" VendorName=\"Test\">\n"
           "<Category Name=\"Root\" NameSpace=\"Standard\">" +
           features + "</Category>\n" + nodes + "\n</RegisterDescription>\n";
}

inline std::unique_ptr<GenApi::NodeMap> Load(const std::string& nodes, const std::string& features = "") {
    return GenApi::CNodeMapFactory::LoadFromString(Description(nodes, features), "test.xml");
}

// Description text of the exception a callable throws, or "" when it throws nothing.
template <class Exception, class F>
std::string DescriptionOf(F&& f) {
    try {
        f();
    } catch (const Exception& e) {
        return e.GetDescription();
    }
    return "";
}

} // namespace genapi_test
