// The listening setting's file text: only the one line turns listening on.
#include <gtest/gtest.h>

#include "settings/network_listening.h"

namespace {

TEST(NetworkListening, WrittenTextsReadBackAsWritten) {
    EXPECT_EQ(networkListeningText(true), "listen=home-network\n");
    EXPECT_EQ(networkListeningText(false), "listen=loopback\n");
    EXPECT_TRUE(parseNetworkListening(networkListeningText(true)));
    EXPECT_FALSE(parseNetworkListening(networkListeningText(false)));
}

TEST(NetworkListening, OnlyTheOnLineTurnsListeningOn) {
    const struct {
        std::string_view text;
        bool on;
    } cases[] = {
        {"listen=home-network", true},
        {"listen=home-network\r\n", true},
        {"\xEF\xBB\xBFlisten=home-network\n", true},
        {"", false},
        {"listen=loopback", false},
        {"listen=home-network\n\n", false},
        {"listen=Home-Network\n", false},
        {" listen=home-network\n", false},
        {"listen=home-network-x\n", false},
        {"listen=home", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseNetworkListening(c.text), c.on) << c.text;
}

} // namespace
