#include "directory/ads_path.h"

#include "platform/cstring.h"

namespace brevonix::directory {

namespace {

bool IsHostChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_';
}

bool IsIpv6Char(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' || c == '.';
}

} // namespace

std::string AdsPath::LdapUri() const {
    std::string uri = ldaps ? "ldaps://" : "ldap://";
    uri += host;
    if (port != 0) uri += ":" + std::to_string(port);
    return uri;
}

std::string AdsPath::Server() const {
    return port != 0 ? host + ":" + std::to_string(port) : host;
}

bool ParseAdsPath(std::u16string_view path, bool useSsl, AdsPath& out) {
    out = AdsPath{};
    constexpr std::u16string_view kPrefix = u"LDAP://";
    if (path.size() < kPrefix.size()) return false;
    for (size_t i = 0; i < kPrefix.size(); ++i)
        if (WideToUpper(path[i]) != kPrefix[i]) return false;
    const std::string rest = CString(path.substr(kPrefix.size())).ToUtf8();

    size_t pos = 0;
    if (!rest.empty() && rest[0] == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos || close == 1) return false;
        for (size_t i = 1; i < close; ++i)
            if (!IsIpv6Char(rest[i])) return false;
        out.host = rest.substr(0, close + 1);
        pos = close + 1;
    } else {
        while (pos < rest.size() && IsHostChar(rest[pos]))
            ++pos;
        out.host = rest.substr(0, pos);
    }
    if (out.host.empty()) return false;

    if (pos < rest.size() && rest[pos] == ':') {
        const size_t start = ++pos;
        int port = 0;
        while (pos < rest.size() && rest[pos] >= '0' && rest[pos] <= '9' && pos - start < 6)
            port = port * 10 + (rest[pos++] - '0');
        if (pos == start || port < 1 || port > 65535) return false;
        out.port = port;
    }
    if (pos < rest.size()) {
        if (rest[pos] != '/') return false;
        // "/" inside a DN is written "\/" in an ADsPath.
        for (size_t i = pos + 1; i < rest.size(); ++i) {
            if (rest[i] == '\\' && i + 1 < rest.size() && rest[i + 1] == '/') ++i;
            out.dn += rest[i];
        }
    }
    out.ldaps = useSsl || out.port == 636;
    return true;
}

} // namespace brevonix::directory
