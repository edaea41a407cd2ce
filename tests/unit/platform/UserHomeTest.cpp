#include <gtest/gtest.h>

#include "platform/UserHome.hpp"

namespace vesperon {
namespace {

TEST(UserHome, ReadsTheFirstWellFormedEntryOfTheAccount) {
    const std::string file = "# local accounts\n"
                             "root:x:0:0:root:/root:/bin/bash\n"
                             "+nis:x:1000:1000::/nis/home:/bin/sh\n"
                             "short:x:1000:1000:/too/few\n"
                             "bad:x:10x0:1000::/bad:/bin/sh\n"
                             "ann:x:1000:1000:Ann, Room 1:/home/ann:/bin/sh:with:colons\n"
                             "dup:x:1000:1000::/home/dup:/bin/sh\n"
                             "big:x:4294967295:1::/home/big:/bin/sh\n"
                             "nohome:x:1001:1001:::/bin/sh";
    EXPECT_EQ(homeFolderInPasswordFile(file, 0), "/root");
    EXPECT_EQ(homeFolderInPasswordFile(file, 1000), "/home/ann");
    EXPECT_EQ(homeFolderInPasswordFile(file, 1001), "");
    EXPECT_EQ(homeFolderInPasswordFile(file, 4294967295u), "/home/big");
    EXPECT_EQ(homeFolderInPasswordFile(file, 1002), std::nullopt);
}

} // namespace
} // namespace vesperon
