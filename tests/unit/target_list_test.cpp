#include "frontend/target_list.hpp"

#include <gtest/gtest.h>

namespace korvane {
namespace {

using Targets = std::vector<std::string>;

TEST(TargetList, OneAddressPerLineWithCommentsAndBlankLinesIgnored) {
    EXPECT_EQ(ParseTargetList(""), Targets{});
    EXPECT_EQ(ParseTargetList("127.0.6.1"), Targets{"127.0.6.1"});
    EXPECT_EQ(ParseTargetList("# the rack\n127.0.6.1\n\n  127.0.6.2  # spare\r\n\t\n127.0.6.3\n"),
              (Targets{"127.0.6.1", "127.0.6.2", "127.0.6.3"}));
    // Unchecked here: the download refuses what does not parse.
    EXPECT_EQ(ParseTargetList("abc\n  #\n"), Targets{"abc"});
}

}  // namespace
}  // namespace korvane
