// The random walk repeats exactly for a seed, stays within its bounds, and the demo networks
// carry the documented keys and addresses that no maker owns.

#include "RadioEnvironment.h"
#include "Random.h"
#include "wep/KeyGenerators.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace cardsim {
namespace {

std::vector<int> Walk(uint32_t seed, int steps)
{
    RadioEnvironment environment = RadioEnvironment::Demo();
    Random random(seed);
    std::vector<int> levels;
    for (int i = 0; i < steps; ++i) {
        environment.Drift(random);
        for (const Network& network : environment.Networks()) {
            levels.push_back(network.signal);
            levels.push_back(network.quality);
        }
    }
    return levels;
}

TEST(RandomWalk, ASeedRepeatsTheRunAndAnotherSeedDoesNot)
{
    EXPECT_EQ(Walk(42, 200), Walk(42, 200));
    EXPECT_NE(Walk(42, 200), Walk(43, 200));
}

TEST(RandomWalk, DrawsStayInTheirRangeReachEveryValueAndRepeatWithTheSeed)
{
    Random random(1);
    Random again(1);
    std::vector<int> seen(3);
    for (int i = 0; i < 3000; ++i) {
        const uint32_t below = random.Below(1000);
        ASSERT_LT(below, 1000u);
        ASSERT_EQ(again.Below(1000), below) << "draw " << i;
        const int step = random.Between(-1, 1);
        ASSERT_GE(step, -1);
        ASSERT_LE(step, 1);
        ASSERT_EQ(again.Between(-1, 1), step) << "draw " << i;
        ++seen[static_cast<size_t>(step + 1)];
    }
    // Each of the three steps turns up, roughly a third of the time each.
    for (const int count : seen)
        EXPECT_GT(count, 800);
}

TEST(RandomWalk, SignalsStayWithinBaseAndDriftAndQualityBelowSignal)
{
    RadioEnvironment environment = RadioEnvironment::Demo();
    Random random(9);
    for (int step = 0; step < 1000; ++step) {
        environment.Drift(random);
        for (const Network& network : environment.Networks()) {
            EXPECT_GE(network.signal, std::max(0, network.base - network.drift));
            EXPECT_LE(network.signal, std::min(kLevelMax, network.base + network.drift));
            EXPECT_LE(network.quality, network.signal);
            EXPECT_GE(network.quality, 0);
        }
    }
}

TEST(RandomWalk, APinnedSignalStaysAndTheOthersWalkAsBefore)
{
    RadioEnvironment pinned = RadioEnvironment::Demo();
    RadioEnvironment free = RadioEnvironment::Demo();
    ASSERT_EQ(pinned.PinSignal("Harbour", 3), 1u);
    Random a(5), b(5);
    for (int step = 0; step < 50; ++step) {
        pinned.Drift(a);
        free.Drift(b);
        EXPECT_EQ(pinned.Networks()[1].signal, 3);
        EXPECT_EQ(pinned.Networks()[0].signal, free.Networks()[0].signal);
        EXPECT_EQ(pinned.Networks()[2].signal, free.Networks()[2].signal);
    }
}

TEST(DemoEnvironment, KeysComeFromTheDocumentedPassphrases)
{
    const RadioEnvironment demo = RadioEnvironment::Demo();
    ASSERT_EQ(demo.Networks().size(), 4u);
    const Network& harbour = demo.Networks()[1];
    EXPECT_EQ(harbour.name, "Harbour");
    EXPECT_EQ(harbour.wep.wepReq, kWep64);
    // The keys a person gets by typing the passphrases into the Encryption page.
    const auto harbourKeys = GenerateKeys64(u"harbour");
    EXPECT_TRUE(std::equal(harbourKeys.begin(), harbourKeys.end(), harbour.wep.keys.begin()));
    const Network& lighthouse = demo.Networks()[2];
    EXPECT_EQ(lighthouse.wep.wepReq, kWep128);
    const auto lighthouseKey = GenerateKey128(u"lighthouse keeper");
    EXPECT_TRUE(std::equal(lighthouseKey.begin(), lighthouseKey.end(), lighthouse.wep.keys.begin()));
    EXPECT_EQ(demo.Networks()[3].kind, NetworkKind::PeerCell);
    EXPECT_EQ(demo.Networks()[0].wep.wepReq, kWepOff);
}

TEST(DemoEnvironment, BssidsAreUniqueAndRemovalWorksByNameOrBssid)
{
    RadioEnvironment demo = RadioEnvironment::Demo();
    // No simulated network may look like a maker's hardware: every address is a locally
    // administered unicast one.
    for (const Network& network : demo.Networks())
        EXPECT_EQ(network.bssid[0] & 0x03, 0x02) << network.name;
    EXPECT_FALSE(demo.Add(demo.Networks()[0]).empty());
    EXPECT_EQ(demo.Remove("02:48:42:00:00:02"), 1u);
    EXPECT_EQ(demo.Remove("CafeNet"), 1u);
    EXPECT_EQ(demo.Remove("CafeNet"), 0u);
    EXPECT_EQ(demo.Networks().size(), 2u);
}

} // namespace
} // namespace cardsim
