#include "net/choker.h"

#include <gtest/gtest.h>

namespace torrent
{
namespace
{

TEST(Choker, TwoInterestedMessagesGiveOneUnchoke)
{
    choker c;
    EXPECT_TRUE(c.choking());
    EXPECT_TRUE(c.on_interested());
    EXPECT_FALSE(c.on_interested());
    EXPECT_EQ(c.take_message(), wire::unchoke);
    EXPECT_EQ(c.take_message(), std::nullopt);
}

TEST(Choker, NotInterestedWhileChokedSendsNothing)
{
    choker c;
    EXPECT_FALSE(c.on_not_interested());
    EXPECT_EQ(c.take_message(), std::nullopt);
}

TEST(Choker, LosingInterestChokesAgain)
{
    choker c;
    c.on_interested();
    (void)c.take_message();
    EXPECT_TRUE(c.on_not_interested());
    EXPECT_FALSE(c.peer_interested());
    EXPECT_EQ(c.take_message(), wire::choke);
}

TEST(Choker, RequestsWhileChokedAreDroppedAndBlocksWaitForTheUnchoke)
{
    choker c;
    EXPECT_FALSE(c.accepts_request());
    c.on_interested();
    EXPECT_TRUE(c.accepts_request());
    EXPECT_FALSE(c.may_send_block()) << "the unchoke goes out before any block";
    (void)c.take_message();
    EXPECT_TRUE(c.may_send_block());
    c.reset();
    EXPECT_TRUE(c.choking());
    EXPECT_FALSE(c.accepts_request());
}

} // namespace
} // namespace torrent
