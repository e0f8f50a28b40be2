// Real cameras' own description files (the folder named by MIRVA_GENICAM_XML_DIR) load
// unchanged, and every published feature reads.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include <GenApi/GenApi.h>
#include <GenICam/GCException.h>

#include "support/description_files.h"

using namespace GenApi;

namespace {

TEST(CameraDescriptions, EachFileLoadsAndEveryFeatureReads) {
    const char* dir = std::getenv("MIRVA_GENICAM_XML_DIR");
    if (!dir || !*dir)
        GTEST_SKIP() << "MIRVA_GENICAM_XML_DIR is not set";
    const auto files = pylon_test::DescriptionFiles({".xml", ".zip"});
    ASSERT_FALSE(files.empty()) << "no description files in " << dir;
    for (const std::filesystem::path path : files) {
        SCOPED_TRACE(path.string());
        std::unique_ptr<NodeMap> map;
        try {
            map = CNodeMapFactory::LoadFromFile(path.string());
        } catch (const GenICam::GenericException& e) {
            ADD_FAILURE() << "load failed: " << e.GetDescription();
            continue;
        }
        NodeList_t nodes;
        map->GetNodes(nodes);
        int features = 0, readable = 0;
        for (INode* node : nodes) {
            if (!node->IsFeature())
                continue;
            ++features;
            if (!IsReadable(node))
                continue;
            ++readable;
            CValuePtr value(node);
            if (!value.IsValid())
                continue; // categories
            try {
                value->ToString();
            } catch (const GenICam::GenericException& e) {
                ADD_FAILURE() << "feature '" << node->GetName() << "' does not read: " << e.GetDescription();
            }
        }
        std::printf("%s: %zu nodes, %d features (%d readable)\n", path.filename().c_str(), nodes.size(), features,
                    readable);
    }
}

} // namespace
