// The real service's view of the kernel: link news from real interfaces created and deleted in
// a private network namespace, the link messages' parser fed what the kernel might send and
// what it should not, and nl80211 as this machine's kernel has it (with or without a
// wireless stack). Waits are for conditions; ctest's timeout is the only clock.

#include "LinkWatch.h"
#include "Nl80211.h"
#include "support/TestEnvironment.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace {

using connectd::LinkWatch;
using connectd::Nl80211;
using testing::ElementsAre;
using testing::HasSubstr;

// Runs a program with its arguments and answers its exit status (-1: it could not run).
int Run(std::vector<std::string> words)
{
    std::vector<char*> argv;
    for (auto& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A network namespace of this test's own, made with `ip netns`, deleted with everything in it.
class ScopedNetns {
public:
    ScopedNetns() : name_("wlan-nl-" + std::to_string(getpid())) { created_ = Run({"ip", "netns", "add", name_}) == 0; }
    ~ScopedNetns()
    {
        if (created_)
            Run({"ip", "netns", "del", name_});
    }
    ScopedNetns(const ScopedNetns&) = delete;
    ScopedNetns& operator=(const ScopedNetns&) = delete;

    bool Created() const { return created_; }
    const std::string& Name() const { return name_; }
    int Ip(std::vector<std::string> words) const
    {
        words.insert(words.begin(), {"ip", "-n", name_});
        return Run(std::move(words));
    }
    // Opens a watch from inside the namespace: its socket stays there, this thread comes back.
    std::optional<LinkWatch> Watch(std::string& error) const
    {
        const int home = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        const int there = open(("/run/netns/" + name_).c_str(), O_RDONLY | O_CLOEXEC);
        std::optional<LinkWatch> watch;
        if (home >= 0 && there >= 0 && setns(there, CLONE_NEWNET) == 0) {
            watch = LinkWatch::Open(error);
            if (setns(home, CLONE_NEWNET) != 0)
                std::abort();   // the rest of the suite must not run in the test's namespace
        } else {
            error = std::string("cannot enter the namespace: ") + std::strerror(errno);
        }
        if (there >= 0)
            close(there);
        if (home >= 0)
            close(home);
        return watch;
    }

private:
    std::string name_;
    bool created_ = false;
};

// Waits until the watch reports news of `name`.
void WaitForNews(LinkWatch& watch, const std::string& name)
{
    pollfd readable{watch.Fd(), POLLIN, 0};
    while (!watch.Drain(name))
        ASSERT_GE(poll(&readable, 1, -1), 0) << std::strerror(errno);
}

TEST(LinkWatch, SeesAnInterfaceOfItsNameAppearAndGoAwayAndNoOther)
{
    if (geteuid() != 0)
        WLAN_SKIP_UNLESS_CI("making a network namespace and interfaces in it needs root");
    ScopedNetns netns;
    if (!netns.Created())
        WLAN_SKIP_UNLESS_CI("`ip netns add` failed: no iproute2 or no namespaces here");
    std::string error;
    auto watch = netns.Watch(error);
    auto bystander = netns.Watch(error);
    ASSERT_TRUE(watch && bystander) << error;
    const std::string suffix = std::to_string(getpid() % 1000000);
    const std::string card = "wa" + suffix, other = "wo" + suffix;

    // The kernel hands link news to every listener at once, so when one watch has heard of
    // the other pair, the bystander holds the same news, none of it about the card.
    ASSERT_EQ(netns.Ip({"link", "add", other, "type", "veth", "peer", "name", other + "p"}), 0);
    WaitForNews(*watch, other);
    EXPECT_FALSE(bystander->Drain(card));

    ASSERT_EQ(netns.Ip({"link", "add", card, "type", "veth", "peer", "name", card + "p"}), 0);
    WaitForNews(*watch, card);
    EXPECT_TRUE(bystander->Drain(card));

    ASSERT_EQ(netns.Ip({"link", "set", card, "up"}), 0);
    WaitForNews(*watch, card);

    ASSERT_EQ(netns.Ip({"link", "del", card}), 0);
    WaitForNews(*watch, card);
    EXPECT_EQ(if_nametoindex(card.c_str()), 0u) << "the interface was made outside the namespace";
}

// One link message as the kernel lays it out: header, interface info, the name attribute.
std::vector<uint8_t> LinkMessage(uint16_t type, int index, const std::string& name)
{
    const size_t nameSpace = RTA_SPACE(name.size() + 1);
    std::vector<uint8_t> bytes(NLMSG_SPACE(sizeof(ifinfomsg) + nameSpace));
    auto* header = reinterpret_cast<nlmsghdr*>(bytes.data());
    header->nlmsg_len = NLMSG_LENGTH(sizeof(ifinfomsg) + nameSpace);
    header->nlmsg_type = type;
    auto* info = static_cast<ifinfomsg*>(NLMSG_DATA(header));
    info->ifi_index = index;
    auto* attr = IFLA_RTA(info);
    attr->rta_type = IFLA_IFNAME;
    attr->rta_len = RTA_LENGTH(name.size() + 1);
    std::memcpy(RTA_DATA(attr), name.c_str(), name.size() + 1);
    return bytes;
}

TEST(LinkWatch, FollowsTheInterfaceByIndexAndReadsNothingPastAMessage)
{
    int known = 0;
    auto message = LinkMessage(RTM_NEWLINK, 7, "wlan0");
    EXPECT_TRUE(LinkWatch::Mentions(message, "wlan0", known));
    EXPECT_EQ(known, 7);
    EXPECT_FALSE(LinkWatch::Mentions(LinkMessage(RTM_NEWLINK, 8, "eth0"), "wlan0", known));
    EXPECT_FALSE(LinkWatch::Mentions(LinkMessage(RTM_NEWADDR, 7, "wlan0"), "wlan0", known));
    // Renamed: the message carries the new name and the old index.
    EXPECT_TRUE(LinkWatch::Mentions(LinkMessage(RTM_NEWLINK, 7, "wlx0"), "wlan0", known));
    EXPECT_EQ(known, 0);
    EXPECT_TRUE(LinkWatch::Mentions(LinkMessage(RTM_DELLINK, 9, "wlan0"), "wlan0", known));

    // Two messages in one datagram, the second about the card.
    auto both = LinkMessage(RTM_NEWLINK, 8, "eth0");
    const auto second = LinkMessage(RTM_NEWLINK, 3, "wlan0");
    both.insert(both.end(), second.begin(), second.end());
    EXPECT_TRUE(LinkWatch::Mentions(both, "wlan0", known));
    // Cut in the second message: the first is read, the rest is not.
    EXPECT_FALSE(LinkWatch::Mentions(std::span(both).first(both.size() - 4), "wlan0", known));

    // A name attribute longer than its message, a message length shorter than its header or
    // longer than the datagram, a name with no terminating zero, bytes at an odd address.
    auto longName = LinkMessage(RTM_NEWLINK, 5, "wlan0");
    reinterpret_cast<rtattr*>(longName.data() + NLMSG_LENGTH(sizeof(ifinfomsg)))->rta_len = 200;
    EXPECT_FALSE(LinkWatch::Mentions(longName, "wlan0", known));
    auto shortHeader = LinkMessage(RTM_NEWLINK, 5, "wlan0");
    reinterpret_cast<nlmsghdr*>(shortHeader.data())->nlmsg_len = NLMSG_LENGTH(4);
    EXPECT_FALSE(LinkWatch::Mentions(shortHeader, "wlan0", known));
    auto longHeader = LinkMessage(RTM_NEWLINK, 5, "wlan0");
    reinterpret_cast<nlmsghdr*>(longHeader.data())->nlmsg_len = 4096;
    EXPECT_FALSE(LinkWatch::Mentions(longHeader, "wlan0", known));
    auto unterminated = LinkMessage(RTM_NEWLINK, 5, "wlan0xyz");
    reinterpret_cast<rtattr*>(unterminated.data() + NLMSG_LENGTH(sizeof(ifinfomsg)))->rta_len = RTA_LENGTH(5);
    EXPECT_TRUE(LinkWatch::Mentions(unterminated, "wlan0", known));
    std::vector<uint8_t> shifted(1);
    shifted.insert(shifted.end(), message.begin(), message.end());
    EXPECT_TRUE(LinkWatch::Mentions(std::span(shifted).subspan(1), "wlan0", known));
    EXPECT_FALSE(LinkWatch::Mentions({}, "wlan0", known));
}

TEST(Nl80211, RateSetsBecomeLegacyRatesInHalfMegabits)
{
    EXPECT_THAT(connectd::RateBitrates(15), ElementsAre(2, 4, 11, 22));
    EXPECT_THAT(connectd::RateBitrates(4 | 1), ElementsAre(2, 11));
    EXPECT_TRUE(connectd::RateBitrates(0).empty());
}

// cfg80211 registers both the ieee80211 device class and the nl80211 family when it loads,
// so the one tells whether the other must be there.
TEST(Nl80211, AnswersNoForAnInterfaceThatIsNotWirelessOrSaysWhyItCannotAsk)
{
    std::string error;
    auto nl = Nl80211::Open(error);
    if (!std::filesystem::exists("/sys/class/ieee80211")) {
        EXPECT_FALSE(nl);
        EXPECT_THAT(error, HasSubstr("no nl80211 family"));
        return;
    }
    ASSERT_TRUE(nl) << error;
    const unsigned loopback = if_nametoindex("lo");
    ASSERT_NE(loopback, 0u);
    for (const unsigned ifindex : {loopback, 0u, 0xFFFFFFFFu}) {
        EXPECT_FALSE(nl->IsWireless(ifindex));
        EXPECT_EQ(nl->StrongestPeerSignal(ifindex), std::nullopt);
        EXPECT_EQ(nl->FastestPeerTxRate(ifindex), std::nullopt);
        EXPECT_EQ(nl->PowerSave(ifindex), std::nullopt);
        EXPECT_FALSE(nl->Associated(ifindex));
        EXPECT_EQ(nl->NoiseInUse(ifindex), std::nullopt);
        EXPECT_EQ(nl->UsableChannels(ifindex), std::nullopt);
        EXPECT_LT(nl->SetTxRates(ifindex, connectd::kAllRates), 0);
    }
    EXPECT_EQ(nl->SetTxRates(loopback, 0), -EINVAL);
    EXPECT_EQ(nl->SetTxRates(loopback, 16), -EINVAL);
    // Moved from, the object refuses politely instead of using a freed socket.
    Nl80211 moved = std::move(*nl);
    EXPECT_FALSE(nl->IsWireless(loopback));
    EXPECT_FALSE(moved.IsWireless(loopback));
}

} // namespace
