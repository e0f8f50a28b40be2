// The camera models shipped with the emulator load, and every readable feature reads.
#include <gtest/gtest.h>

#include <filesystem>

#include <GenApi/GenApi.h>

using namespace GenApi;

namespace {

TEST(ModelFiles, EveryShippedModelLoadsAndReads) {
    const std::filesystem::path dir = std::filesystem::path(MIRVA_SOURCE_DIR) / "platform/pylon/models";
    if (!std::filesystem::exists(dir))
        GTEST_SKIP() << "no model directory " << dir;
    int models = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".xml")
            continue;
        ++models;
        SCOPED_TRACE(entry.path().string());
        std::unique_ptr<NodeMap> map;
        ASSERT_NO_THROW(map = CNodeMapFactory::LoadFromFile(entry.path().string()));
        CCategoryPtr root = map->GetNode("Root");
        ASSERT_TRUE(root.IsValid());
        FeatureList_t features;
        root->GetFeatures(features);
        EXPECT_FALSE(features.empty());
        NodeList_t nodes;
        map->GetNodes(nodes);
        for (INode* node : nodes) {
            if (IsReadable(node)) {
                EXPECT_NO_THROW(CValuePtr(node)->ToString()) << node->GetName();
            }
        }
    }
    EXPECT_GT(models, 0);
}

} // namespace
