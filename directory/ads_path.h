// ADsPath strings for the LDAP provider: "LDAP://host[:port][/DN]".
#pragma once

#include <string>
#include <string_view>

namespace brevonix::directory {

struct AdsPath {
    std::string host; // a DNS name, an IPv4 address or a bracketed IPv6 address
    int port = 0;     // 0: the protocol's default
    std::string dn;   // empty: the directory's default naming context
    bool ldaps = false;

    // The URI handed to the LDAP library: ldaps for port 636 or when asked for.
    std::string LdapUri() const;
    // "host" or "host:port" as given, for ADsPath values and messages.
    std::string Server() const;
};

// False for anything that is not an LDAP path with a server: another provider, a serverless path
// ("LDAP://DC=example,DC=com"), characters that do not belong in a host name, a port out of range.
// `useSsl` asks for ldaps (ADS_USE_SSL); port 636 implies it.
bool ParseAdsPath(std::u16string_view path, bool useSsl, AdsPath& out);

} // namespace brevonix::directory
