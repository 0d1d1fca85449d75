#include "Privileges.h"

#include <linux/capability.h>
#include <sys/auxv.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace connectd {

namespace {

struct CapabilitySets {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
};

bool Read(CapabilitySets& sets)
{
    return syscall(SYS_capget, &sets.header, sets.data) == 0;
}

bool Write(CapabilitySets& sets)
{
    return syscall(SYS_capset, &sets.header, sets.data) == 0;
}

constexpr unsigned kWord = CAP_NET_ADMIN / 32;
constexpr unsigned kBit = 1u << (CAP_NET_ADMIN % 32);

} // namespace

bool RunsRaised()
{
    return getauxval(AT_SECURE) != 0;
}

void DropEffectiveCapabilities()
{
    CapabilitySets sets;
    if (!Read(sets))
        return;
    for (auto& word : sets.data)
        word.effective = 0;
    Write(sets);
}

NetAdminScope::NetAdminScope()
{
    CapabilitySets sets;
    if (!Read(sets) || (sets.data[kWord].permitted & kBit) == 0 || (sets.data[kWord].effective & kBit) != 0)
        return;
    sets.data[kWord].effective |= kBit;
    raised_ = Write(sets);
}

NetAdminScope::~NetAdminScope()
{
    if (!raised_)
        return;
    CapabilitySets sets;
    if (!Read(sets))
        return;
    sets.data[kWord].effective &= ~kBit;
    Write(sets);
}

} // namespace connectd
