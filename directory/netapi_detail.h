// Pieces of the network management stand-in that are worth testing on their own: reading the
// domain text a user typed, ordering SRV answers, and reading the configuration files that record
// a domain membership on Linux.
#pragma once

#include "directory/adsi.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brevonix::netapi {

// The Win32 code for a name that cannot be one (ERROR_INVALID_NAME).
constexpr NET_API_STATUS kErrorInvalidName = 123;
// A remote computer was named; only this computer can be asked.
constexpr NET_API_STATUS kErrorNotSupported = 50;

constexpr uint16_t kLdapPort = 389;

// The domain text of NetGetDCName: a DNS name, an IPv4 address or a bracketed IPv6 address, each
// optionally followed by ":port". Anything that cannot be a host (control characters, '/', '@',
// blanks, empty labels, non-ASCII) gives nothing, so no lookup is ever made for it.
struct DomainText {
    std::string host;  // without brackets and without a trailing dot
    uint16_t port = 0; // 0 when none was given
    bool isAddress = false;
    bool isIpv6 = false;
};
std::optional<DomainText> ParseDomainText(std::u16string_view text);

// True for a DNS host name we are willing to connect to (also used for names coming from DNS).
bool IsHostName(std::string_view name);

struct SrvRecord {
    std::string target;
    uint16_t port = 0;
    uint16_t priority = 0;
    uint16_t weight = 0;
};
// RFC 2782 order: lower priority first; within one priority a weighted random order. `random`
// returns a uniformly distributed number in [0, bound] for a given bound.
template <typename Random>
std::vector<SrvRecord> OrderSrvRecords(std::vector<SrvRecord> records, Random&& random);

// The hosts of the Kerberos configuration's `kdc` entries, port and transport prefix removed, for
// a realm whose name equals `domain` without regard to case. Reads the profile (KRB5_CONFIG or the
// system file); makes no DNS lookup.
std::vector<std::string> KdcHostsFromProfile(const std::string& domain);

// Domain membership as the configuration files record it.
struct Membership {
    NETSETUP_JOIN_STATUS status = NetSetupUnjoined;
    std::string name;
};
// sssd.conf: an enabled [domain/...] section with id_provider, auth_provider or access_provider
// "ad"; the name is its ad_domain, else its krb5_realm, else the section's name (lower case).
std::optional<std::string> AdDomainFromSssdConf(std::string_view text);
// smb.conf: "security = ads" or an AD DC server role, with a realm: joined to the realm's DNS name;
// otherwise the workgroup ("WORKGROUP" when none is set).
Membership MembershipFromSmbConf(std::string_view text);

// ---- template implementation ----

template <typename Random>
std::vector<SrvRecord> OrderSrvRecords(std::vector<SrvRecord> records, Random&& random) {
    std::vector<SrvRecord> ordered;
    ordered.reserve(records.size());
    while (!records.empty()) {
        uint16_t lowest = records.front().priority;
        for (const auto& r : records)
            if (r.priority < lowest) lowest = r.priority;
        std::vector<SrvRecord> group;
        std::vector<SrvRecord> rest;
        for (auto& r : records)
            (r.priority == lowest ? group : rest).push_back(std::move(r));
        records = std::move(rest);
        // Zero-weight records first, as RFC 2782 asks, so they have a small chance when others exist.
        std::stable_partition(group.begin(), group.end(), [](const SrvRecord& r) { return r.weight == 0; });
        while (!group.empty()) {
            uint32_t total = 0;
            for (const auto& r : group)
                total += r.weight;
            uint32_t pick = static_cast<uint32_t>(random(total));
            size_t chosen = 0;
            uint32_t running = 0;
            for (size_t i = 0; i < group.size(); ++i) {
                running += group[i].weight;
                if (running >= pick) {
                    chosen = i;
                    break;
                }
            }
            ordered.push_back(std::move(group[chosen]));
            group.erase(group.begin() + static_cast<std::ptrdiff_t>(chosen));
        }
    }
    return ordered;
}

} // namespace brevonix::netapi
