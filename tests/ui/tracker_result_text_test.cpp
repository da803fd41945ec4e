// The result table's texts for what trackers answer.
#include <gtest/gtest.h>

#include "ui/result_text.h"

namespace torrent
{
namespace
{

TEST(TrackerResultText, ARefusalNamesTheTrackerAndQuotesItsReason)
{
    EXPECT_EQ(
        result_text(announce_outcome::failure, "http://127.0.0.1:6969/announce", "torrent not registered"),
        "tracker http://127.0.0.1:6969/announce refused the announce: torrent not registered");
    // Every outcome has a text of its own.
    EXPECT_NE(
        result_text(announce_outcome::not_dictionary, "u"), result_text(announce_outcome::no_interval, "u"));
    EXPECT_EQ(result_text(announce_outcome::ok, "u").find("result "), std::string::npos);
}

} // namespace
} // namespace torrent
