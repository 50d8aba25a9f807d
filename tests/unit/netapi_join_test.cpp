// NetGetJoinInformation against configuration files the test writes: the Kerberos configuration
// and keytab (through KRB5_CONFIG and KRB5_KTNAME, which the Kerberos library honours), sssd.conf
// and smb.conf. Only local files are read; nothing here touches the network.
#include "directory/adsi.h"
#include "support/samba_process.h"

#include <gtest/gtest.h>
#include <krb5.h>

#include <string>
#include <vector>

using namespace brevonix::samba_test;

namespace {

// Writes a keytab holding one dummy key for each principal.
void WriteKeytab(const std::string& path, const std::vector<std::string>& principals) {
    krb5_context ctx = nullptr;
    ASSERT_EQ(krb5_init_context(&ctx), 0);
    krb5_keytab kt = nullptr;
    ASSERT_EQ(krb5_kt_resolve(ctx, ("FILE:" + path).c_str(), &kt), 0);
    for (const auto& name : principals) {
        krb5_keytab_entry entry{};
        ASSERT_EQ(krb5_parse_name(ctx, name.c_str(), &entry.principal), 0) << name;
        unsigned char key[32] = {1, 2, 3};
        entry.vno = 1;
        entry.key.enctype = ENCTYPE_AES256_CTS_HMAC_SHA1_96;
        entry.key.length = sizeof key;
        entry.key.contents = key;
        EXPECT_EQ(krb5_kt_add_entry(ctx, kt, &entry), 0) << name;
        krb5_free_principal(ctx, entry.principal);
    }
    krb5_kt_close(ctx, kt);
    krb5_free_context(ctx);
}

struct Join {
    NET_API_STATUS result;
    NETSETUP_JOIN_STATUS status;
    std::u16string name;
    bool bufferGiven;
};

Join AskJoin() {
    LPWSTR buffer = nullptr;
    NETSETUP_JOIN_STATUS status = NetSetupUnknownStatus;
    Join j{NetGetJoinInformation(nullptr, &buffer, &status), status, {}, buffer != nullptr};
    if (buffer) j.name = buffer;
    NetApiBufferFree(buffer);
    return j;
}

std::string Narrow(const std::u16string& s) {
    return std::string(s.begin(), s.end());
}

class JoinInformationTest : public ::testing::Test {
protected:
    TempDir dir{"brevonix-join"};
    std::string krb5Conf = dir.File("krb5.conf");
    std::string keytab = dir.File("krb5.keytab");
    // Every source pointed at a file of ours, so the machine's own configuration cannot decide.
    ScopedEnv config{"KRB5_CONFIG", krb5Conf};
    ScopedEnv kt{"KRB5_KTNAME", "FILE:" + keytab};
    ScopedEnv sssd{"BREVONIX_SSSD_CONF", dir.File("sssd.conf")};
    ScopedEnv smb{"BREVONIX_SMB_CONF", dir.File("smb.conf")};

    void DefaultRealm(const std::string& realm) {
        ASSERT_TRUE(WriteTextFile(krb5Conf, "[libdefaults]\n\tdefault_realm = " + realm +
                                                "\n\tdns_lookup_realm = false\n\tdns_lookup_kdc = false\n"));
    }
};

TEST_F(JoinInformationTest, HostKeyOfTheDefaultRealmMeansJoined) {
    struct Case {
        const char* realm;
        std::vector<std::string> principals;
        bool joined;
    } cases[] = {
        {"BREVONIX.TEST", {"host/m1.brevonix.test@BREVONIX.TEST"}, true},
        {"BREVONIX.TEST", {"M1$@BREVONIX.TEST", "RestrictedKrbHost/m1@BREVONIX.TEST"}, true},
        {"BREVONIX.TEST", {"HOST/M1@BREVONIX.TEST"}, true},
        // A key of another realm, or a user's key, is no membership of the default realm.
        {"OTHER.TEST", {"host/m1.brevonix.test@BREVONIX.TEST"}, false},
        {"BREVONIX.TEST", {"alice@BREVONIX.TEST", "HTTP/web.brevonix.test@BREVONIX.TEST"}, false},
        {"BREVONIX.TEST", {}, false},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << n << " realm " << c.realm);
        // A fresh keytab file per case: the library caches nothing by name, but be plain about it.
        std::string path = dir.File("case" + std::to_string(n++) + ".keytab");
        ScopedEnv caseKt{"KRB5_KTNAME", "FILE:" + path};
        if (!c.principals.empty()) WriteKeytab(path, c.principals);
        DefaultRealm(c.realm);
        Join j = AskJoin();
        ASSERT_EQ(j.result, NERR_Success);
        ASSERT_TRUE(j.bufferGiven);
        if (c.joined) {
            EXPECT_EQ(j.status, NetSetupDomainName);
            EXPECT_EQ(Narrow(j.name), "brevonix.test");
        } else {
            EXPECT_EQ(j.status, NetSetupUnjoined);
            EXPECT_EQ(Narrow(j.name), "");
        }
    }
}

TEST_F(JoinInformationTest, NoDefaultRealmMeansNotJoinedEvenWithHostKey) {
    ASSERT_TRUE(
        WriteTextFile(krb5Conf, "[libdefaults]\n\tdns_lookup_realm = false\n\tdns_lookup_kdc = false\n"));
    WriteKeytab(keytab, {"host/m1.brevonix.test@BREVONIX.TEST"});
    Join j = AskJoin();
    ASSERT_EQ(j.result, NERR_Success);
    EXPECT_EQ(j.status, NetSetupUnjoined);
    EXPECT_TRUE(j.bufferGiven);
}

TEST_F(JoinInformationTest, SssdAdDomainMeansJoined) {
    DefaultRealm("BREVONIX.TEST"); // but no keytab
    ASSERT_TRUE(WriteTextFile(dir.File("sssd.conf"),
                              "[sssd]\ndomains = corp.example\n[domain/corp.example]\nid_provider = ad\n"
                              "ad_domain = corp.example\n",
                              0600));
    Join j = AskJoin();
    ASSERT_EQ(j.result, NERR_Success);
    EXPECT_EQ(j.status, NetSetupDomainName);
    EXPECT_EQ(Narrow(j.name), "corp.example");
}

TEST_F(JoinInformationTest, SmbConfDecidesWhenNothingElseDoes) {
    DefaultRealm("BREVONIX.TEST");
    ASSERT_TRUE(WriteTextFile(dir.File("smb.conf"), "[global]\n\tworkgroup = HOME\n\tsecurity = user\n"));
    Join j = AskJoin();
    ASSERT_EQ(j.result, NERR_Success);
    EXPECT_EQ(j.status, NetSetupWorkgroupName);
    EXPECT_EQ(Narrow(j.name), "HOME");

    ASSERT_TRUE(WriteTextFile(dir.File("smb.conf"),
                              "[global]\n\tworkgroup = CORP\n\trealm = CORP.EXAMPLE\n\tsecurity = ads\n"));
    j = AskJoin();
    EXPECT_EQ(j.status, NetSetupDomainName);
    EXPECT_EQ(Narrow(j.name), "corp.example");
}

TEST_F(JoinInformationTest, KerberosMembershipWinsOverWorkgroup) {
    DefaultRealm("BREVONIX.TEST");
    WriteKeytab(keytab, {"host/m1.brevonix.test@BREVONIX.TEST"});
    ASSERT_TRUE(WriteTextFile(dir.File("smb.conf"), "[global]\n\tworkgroup = HOME\n"));
    Join j = AskJoin();
    EXPECT_EQ(j.status, NetSetupDomainName);
    EXPECT_EQ(Narrow(j.name), "brevonix.test");
}

} // namespace
