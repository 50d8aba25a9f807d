// Which typed user names become a Kerberos principal, and which must fall through to the StartTLS
// simple bind with the name as typed.
#include "directory/kerberos.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Case {
    const char* userName;
    const char* realmHint;
    const char* expected; // empty: names no realm
};

class PrincipalForUserNameTest : public ::testing::TestWithParam<Case> {};

TEST_P(PrincipalForUserNameTest, MapsTypedNameToPrincipal) {
    const Case& c = GetParam();
    EXPECT_EQ(brevonix::krb::PrincipalForUserName(c.userName, c.realmHint), c.expected)
        << "user name \"" << c.userName << "\", realm hint \"" << c.realmHint << "\"";
}

const Case kCases[] = {
    // user@REALM: the realm is upper-cased, the user part kept exactly.
    {"alice@brevonix.test", "", "alice@BREVONIX.TEST"},
    {"alice@BREVONIX.TEST", "other.test", "alice@BREVONIX.TEST"},
    {"Alice.Archer@sub.brevonix.test", "", "Alice.Archer@SUB.BREVONIX.TEST"},
    {"Zo\xc3\xab@brevonix.test", "", "Zo\xc3\xab@BREVONIX.TEST"},
    {"user name@brevonix.test", "", "user name@BREVONIX.TEST"},
    {"admin/ops@brevonix.test", "", "admin/ops@BREVONIX.TEST"},
    // DOMAIN\user: only for the directory's own domain, by its first label or whole name.
    {"BREVONIX\\alice", "brevonix.test", "alice@BREVONIX.TEST"},
    {"brevonix\\alice", "BREVONIX.TEST", "alice@BREVONIX.TEST"},
    {"brevonix.test\\alice", "brevonix.test", "alice@BREVONIX.TEST"},
    {"OTHER\\alice", "brevonix.test", ""},
    {"BREVONIX\\alice", "", ""},
    {"BREVONIX\\", "brevonix.test", ""},
    {"\\alice", "brevonix.test", ""},
    {"BREVONIX\\al@ice", "brevonix.test", ""},
    {"BREVONIX\\a\\b", "brevonix.test", ""},
    // Distinguished names go to the simple bind, even with an '@' or an escaped comma inside.
    {"CN=Alice Archer,CN=Users,DC=brevonix,DC=test", "brevonix.test", ""},
    {"CN=alice@brevonix.test,CN=Users,DC=brevonix,DC=test", "brevonix.test", ""},
    {"CN=Archer\\, Alice,CN=Users,DC=brevonix,DC=test", "brevonix.test", ""},
    // No realm, or nothing that could be one.
    {"alice", "brevonix.test", ""},
    {"", "brevonix.test", ""},
    {"@brevonix.test", "", ""},
    {"alice@", "", ""},
    {"alice@brevonix..test", "", ""},
    {"alice@.brevonix.test", "", ""},
    {"alice@brevonix.test.", "", ""},
    {"alice@brevonix test", "", ""},
    {"alice@@brevonix.test", "", ""},
    {"al\nice@brevonix.test", "", ""},
    {"alice@brevonix.test\r", "", ""},
};

INSTANTIATE_TEST_SUITE_P(Table, PrincipalForUserNameTest, ::testing::ValuesIn(kCases));

} // namespace
