// What a Mac relies on in the bundle's Info.plist, and the portable rule the Mac's
// watcher uses to tell the app's process from a later one with its pid.
#include <gtest/gtest.h>

#include <plist/plist.h>

#include <string>

#include "FileContents.hpp"
#include "common/ProductInfo.hpp"
#include "platform/ProcessStart.hpp"

namespace vesperon {
namespace {

std::string stringAt(plist_t dictionary, const char* key) {
    plist_t node = plist_dict_get_item(dictionary, key);
    if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) {
        return "(missing)";
    }
    return plist_get_string_ptr(node, nullptr);
}

TEST(MacBundle, InfoPlistMakesAnAccessoryThatOwnsTheUrlScheme) {
    const std::string xml = testing::readFile(VESPERON_INFO_PLIST);
    plist_t root = nullptr;
    plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &root);
    ASSERT_NE(root, nullptr) << "not a property list: " << VESPERON_INFO_PLIST;
    ASSERT_EQ(plist_get_node_type(root), PLIST_DICT);

    uint8_t accessory = 0;
    plist_t uiElement = plist_dict_get_item(root, "LSUIElement");
    ASSERT_NE(uiElement, nullptr);
    ASSERT_EQ(plist_get_node_type(uiElement), PLIST_BOOLEAN);
    plist_get_bool_val(uiElement, &accessory);
    EXPECT_EQ(accessory, 1);
    EXPECT_EQ(stringAt(root, "CFBundleIdentifier"), product::bundleIdentifier);
    EXPECT_EQ(stringAt(root, "CFBundleShortVersionString"), product::version);
    EXPECT_EQ(stringAt(root, "CFBundleExecutable"), "Vesperon");
    EXPECT_EQ(stringAt(root, "CFBundlePackageType"), "APPL");

    plist_t types = plist_dict_get_item(root, "CFBundleURLTypes");
    ASSERT_NE(types, nullptr);
    ASSERT_EQ(plist_array_get_size(types), 1u);
    plist_t schemes = plist_dict_get_item(plist_array_get_item(types, 0), "CFBundleURLSchemes");
    ASSERT_NE(schemes, nullptr);
    ASSERT_EQ(plist_array_get_size(schemes), 1u);
    EXPECT_STREQ(plist_get_string_ptr(plist_array_get_item(schemes, 0), nullptr), "vesperon");
    plist_free(root);
}

TEST(ProcessStart, AProcessStartedAfterSetupIsNotTheApp) {
    // Now: 1000 s on the wall clock, 50 s on the continuous clock; setup was at 40 s.
    EXPECT_TRUE(startedNoLater(980, 1000, 50, 40));   // started at 30 s
    EXPECT_TRUE(startedNoLater(990, 1000, 50, 40));   // at setup's moment
    EXPECT_TRUE(startedNoLater(990.9, 1000, 50, 40)); // within the wall clock's slack
    EXPECT_FALSE(startedNoLater(991.5, 1000, 50, 40));
    EXPECT_FALSE(startedNoLater(999, 1000, 50, 40)); // a pid reused since
}

} // namespace
} // namespace vesperon
