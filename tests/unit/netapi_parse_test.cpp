// The parts of the domain locator and the join information that need no network: which domain
// texts may be looked up at all, SRV ordering, and reading sssd.conf and smb.conf.
#include "directory/netapi_detail.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

using namespace brevonix::netapi;

namespace {

struct TextCase {
    const char16_t* text;
    bool valid;
    const char* host = "";
    uint16_t port = 0;
    bool isAddress = false;
};

class DomainTextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(DomainTextTest, AcceptsOnlyHostNamesAndAddresses) {
    const TextCase& c = GetParam();
    auto parsed = ParseDomainText(c.text);
    std::u16string text = c.text;
    std::string shown(text.begin(), text.end());
    ASSERT_EQ(parsed.has_value(), c.valid) << "\"" << shown << "\"";
    if (!parsed) return;
    EXPECT_EQ(parsed->host, c.host) << shown;
    EXPECT_EQ(parsed->port, c.port) << shown;
    EXPECT_EQ(parsed->isAddress, c.isAddress) << shown;
}

const TextCase kTexts[] = {
    {u"brevonix.test", true, "brevonix.test"},
    {u"BREVONIX", true, "BREVONIX"},
    {u"brevonix.test.", true, "brevonix.test"},
    {u"_msdcs.brevonix.test", true, "_msdcs.brevonix.test"},
    {u"xn--bcher-kva.example", true, "xn--bcher-kva.example"},
    {u"dc1.brevonix.test:636", true, "dc1.brevonix.test", 636},
    {u"dc1:65535", true, "dc1", 65535},
    {u"127.0.0.1", true, "127.0.0.1", 0, true},
    {u"127.0.0.1:3268", true, "127.0.0.1", 3268, true},
    {u"[::1]", true, "::1", 0, true},
    {u"[::1]:636", true, "::1", 636, true},

    {u"", false},
    {u" brevonix.test", false},
    {u"brevonix.test ", false},
    {u"brev onix.test", false},
    {u"brevonix.test/dc1", false},
    {u"LDAP://dc1.brevonix.test", false},
    {u"alice@brevonix.test", false},
    {u"\\\\dc1", false},
    {u"brevonix\t.test", false},
    {u"brevonix.test\r\n", false},
    {u"brevonix..test", false},
    {u".brevonix.test", false},
    {u"brevonix.test..", false},
    {u"-bad.test", false},
    {u"bad-.test", false},
    {u"b\u00fccher.example", false},
    {u"brevonix.test:0", false},
    {u"brevonix.test:65536", false},
    {u"brevonix.test:38a", false},
    {u"brevonix.test:", false},
    {u":389", false},
    {u"a:b:c", false},
    {u"::1", false},
    {u"[::1", false},
    {u"[::1]x", false},
    {u"[brevonix.test]", false},
    {u"10.1", false},
    {u"999.1.1.1", false},
    {u"host.123", false},
};

INSTANTIATE_TEST_SUITE_P(Table, DomainTextTest, ::testing::ValuesIn(kTexts));

TEST(DomainText, RejectsOverlongLabelsAndNames) {
    std::u16string label63(63, u'a'), label64(64, u'a');
    EXPECT_TRUE(ParseDomainText(label63 + u".test"));
    EXPECT_FALSE(ParseDomainText(label64 + u".test"));
    std::u16string name;
    while (name.size() < 250)
        name += u"abcdefghi.";
    EXPECT_FALSE(ParseDomainText(name + u"test"));
}

TEST(DomainText, RejectsEveryControlCharacter) {
    for (char16_t c = 0; c < 0x20; ++c) {
        std::u16string text = u"dc1";
        text += c;
        text += u".test";
        EXPECT_FALSE(ParseDomainText(text)) << "control character " << int(c);
    }
    EXPECT_FALSE(ParseDomainText(u"dc1\u007f.test"));
}

TEST(SrvOrder, LowerPriorityFirstAndEveryRecordOnce) {
    std::vector<SrvRecord> records = {
        {"c", 389, 20, 0}, {"a", 389, 0, 10}, {"b1", 389, 10, 50}, {"b2", 389, 10, 50}, {"a2", 389, 0, 0},
    };
    for (uint32_t fixed : {0u, 1u, 1000u}) {
        auto ordered = OrderSrvRecords(records, [&](uint32_t bound) { return std::min(fixed, bound); });
        ASSERT_EQ(ordered.size(), records.size());
        EXPECT_TRUE(
            std::is_sorted(ordered.begin(), ordered.end(),
                           [](const SrvRecord& x, const SrvRecord& y) { return x.priority < y.priority; }));
        std::vector<std::string> names;
        for (const auto& r : ordered)
            names.push_back(r.target);
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"a", "a2", "b1", "b2", "c"}));
    }
}

TEST(SrvOrder, WeightDecidesWithinOnePriority) {
    std::vector<SrvRecord> records = {{"light", 389, 0, 1}, {"heavy", 389, 0, 99}};
    // A draw inside the first record's share picks it; any larger draw picks the heavy one.
    auto low = OrderSrvRecords(records, [](uint32_t) { return 1u; });
    EXPECT_EQ(low.front().target, "light");
    auto high = OrderSrvRecords(records, [](uint32_t bound) { return bound; });
    EXPECT_EQ(high.front().target, "heavy");
}

struct SssdCase {
    const char* name;
    const char* text;
    const char* expected; // nullptr: no AD domain
};

class SssdConfTest : public ::testing::TestWithParam<SssdCase> {};

TEST_P(SssdConfTest, FindsTheEnabledAdDomain) {
    const SssdCase& c = GetParam();
    auto domain = AdDomainFromSssdConf(c.text);
    if (!c.expected) {
        EXPECT_FALSE(domain) << c.name << ": " << domain.value_or("");
    } else {
        ASSERT_TRUE(domain) << c.name;
        EXPECT_EQ(*domain, c.expected) << c.name;
    }
}

const SssdCase kSssd[] = {
    {"realmd join",
     "[sssd]\ndomains = brevonix.test\nconfig_file_version = 2\nservices = nss, pam\n\n"
     "[domain/brevonix.test]\ndefault_shell = /bin/bash\nkrb5_store_password_if_offline = True\n"
     "cache_credentials = True\nkrb5_realm = BREVONIX.TEST\nrealmd_tags = manages-system joined-with-adcli\n"
     "id_provider = ad\nad_domain = brevonix.test\nuse_fully_qualified_names = True\n",
     "brevonix.test"},
    {"realm only", "[domain/corp]\nid_provider = ad\nkrb5_realm = CORP.EXAMPLE\n", "corp.example"},
    {"section name only", "[domain/Corp.Example]\nID_Provider=AD\n", "corp.example"},
    {"auth provider ad", "[domain/x.test]\nid_provider = ldap\nauth_provider = ad\n", "x.test"},
    {"ldap domain", "[domain/ldap.test]\nid_provider = ldap\nauth_provider = krb5\n", nullptr},
    {"commented out", "[domain/x.test]\n# id_provider = ad\n; id_provider = ad\n", nullptr},
    {"not enabled", "[sssd]\ndomains = other.test\n[domain/x.test]\nid_provider = ad\n", nullptr},
    {"second of two enabled",
     "[sssd]\ndomains = files, x.test\n[domain/files]\nid_provider = files\n[domain/x.test]\nid_provider = "
     "ad\n",
     "x.test"},
    {"empty", "", nullptr},
};

INSTANTIATE_TEST_SUITE_P(Table, SssdConfTest, ::testing::ValuesIn(kSssd));

struct SmbCase {
    const char* name;
    const char* text;
    NETSETUP_JOIN_STATUS status;
    const char* expected;
};

class SmbConfTest : public ::testing::TestWithParam<SmbCase> {};

TEST_P(SmbConfTest, ReadsMembershipFromGlobalSection) {
    const SmbCase& c = GetParam();
    auto m = MembershipFromSmbConf(c.text);
    EXPECT_EQ(m.status, c.status) << c.name;
    EXPECT_EQ(m.name, c.expected) << c.name;
}

const SmbCase kSmb[] = {
    {"winbind member", "[global]\n\tworkgroup = BREVONIX\n\trealm = BREVONIX.TEST\n\tsecurity = ADS\n",
     NetSetupDomainName, "brevonix.test"},
    {"domain controller",
     "[global]\n\tnetbios name = DC1\n\trealm = BREVONIX.TEST\n\tserver role = active directory domain "
     "controller\n"
     "\tworkgroup = BREVONIX\n",
     NetSetupDomainName, "brevonix.test"},
    {"continued line", "[global]\n  security = ads\n  realm = \\\n     Corp.Example\n", NetSetupDomainName,
     "corp.example"},
    {"Debian default", "[global]\n   workgroup = WORKGROUP\n   server role = standalone server\n",
     NetSetupWorkgroupName, "WORKGROUP"},
    {"own workgroup", "[global]\nworkgroup = HOME\nsecurity = user\n", NetSetupWorkgroupName, "HOME"},
    {"ads without realm", "[global]\nworkgroup = HOME\nsecurity = ads\n", NetSetupWorkgroupName, "HOME"},
    {"ads in a share section", "[global]\nworkgroup = HOME\n[homes]\nsecurity = ads\nrealm = X.TEST\n",
     NetSetupWorkgroupName, "HOME"},
    {"commented", "[global]\n# security = ads\n; realm = X.TEST\n", NetSetupWorkgroupName, "WORKGROUP"},
};

INSTANTIATE_TEST_SUITE_P(Table, SmbConfTest, ::testing::ValuesIn(kSmb));

TEST(NetApiArguments, RefusesMissingPointersAndRemoteComputers) {
    BYTE* buffer = reinterpret_cast<BYTE*>(1);
    EXPECT_EQ(NetGetDCName(nullptr, u"brevonix.test", nullptr),
              static_cast<NET_API_STATUS>(ERROR_INVALID_PARAMETER));
    EXPECT_NE(NetGetDCName(u"otherpc", u"brevonix.test", &buffer), NERR_Success);
    EXPECT_EQ(buffer, nullptr);
    EXPECT_NE(NetGetDCName(nullptr, nullptr, &buffer), NERR_Success);
    EXPECT_EQ(buffer, nullptr);

    LPWSTR name = reinterpret_cast<LPWSTR>(1);
    NETSETUP_JOIN_STATUS status{};
    EXPECT_NE(NetGetJoinInformation(nullptr, nullptr, &status), NERR_Success);
    EXPECT_NE(NetGetJoinInformation(nullptr, &name, nullptr), NERR_Success);
    EXPECT_NE(NetGetJoinInformation(u"otherpc", &name, &status), NERR_Success);
    EXPECT_EQ(name, nullptr);
    EXPECT_EQ(NetApiBufferFree(nullptr), NERR_Success);
}

} // namespace
