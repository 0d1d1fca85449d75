#include "RegulatoryDomain.h"

#include <array>
#include <utility>

namespace service {

std::optional<RegulatoryDomain> RegulatoryDomain::FromName(std::string_view name)
{
    static constexpr std::array<std::pair<std::string_view, uint16_t>, 3> kDomains = {{
        {"fcc", 0x07FF},
        {"etsi", 0x1FFF},
        {"japan", 0x3FFF},
    }};
    for (const auto& [domainName, mask] : kDomains)
        if (domainName == name)
            return RegulatoryDomain(domainName, mask);
    return std::nullopt;
}

} // namespace service
