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

// The value at `key` of a dictionary: a string as it is, a boolean as "true" or "false".
std::string valueAt(plist_t dictionary, const char* key) {
    plist_t node = plist_dict_get_item(dictionary, key);
    uint8_t flag = 0;
    switch (node == nullptr ? PLIST_NONE : plist_get_node_type(node)) {
    case PLIST_STRING:
        return plist_get_string_ptr(node, nullptr);
    case PLIST_BOOLEAN:
        plist_get_bool_val(node, &flag);
        return flag ? "true" : "false";
    default:
        return "(missing)";
    }
}

TEST(MacBundle, InfoPlistMakesAnAccessoryThatOwnsTheUrlScheme) {
    const std::string xml = testing::readFile(VESPERON_INFO_PLIST);
    plist_t root = nullptr;
    plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &root);
    ASSERT_TRUE(root != nullptr && plist_get_node_type(root) == PLIST_DICT) << VESPERON_INFO_PLIST;
    EXPECT_EQ(valueAt(root, "LSUIElement"), "true");
    EXPECT_EQ(valueAt(root, "CFBundleIdentifier"), product::bundleIdentifier);
    EXPECT_EQ(valueAt(root, "CFBundleShortVersionString"), product::version);
    EXPECT_EQ(valueAt(root, "CFBundleExecutable"), "Vesperon");
    EXPECT_EQ(valueAt(root, "CFBundlePackageType"), "APPL");
    plist_t types = plist_dict_get_item(root, "CFBundleURLTypes");
    ASSERT_TRUE(types != nullptr && plist_array_get_size(types) == 1);
    plist_t schemes = plist_dict_get_item(plist_array_get_item(types, 0), "CFBundleURLSchemes");
    ASSERT_TRUE(schemes != nullptr && plist_array_get_size(schemes) == 1);
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
