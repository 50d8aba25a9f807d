// The command-line check against the domain controller: lsdir lists the domain's users through the
// stand-in exactly as the tool's search calls it.
#include <gtest/gtest.h>

#include "support/samba_fixture.h"

using namespace brevonix::samba_test;

TEST(SambaLsdir, ListsTheUsersOfTheDomain) {
    BREVONIX_REQUIRE_SAMBA(samba);
    const SambaAccount alice = samba->User();
    const std::string lsdir = std::string(BREVONIX_BINARY_DIR) + "/tests/lsdir";
    const CommandResult r = samba->RunInNamespace(
        {lsdir, "LDAP://" + samba->DcHostName(), "--user", alice.upn, "--password-env", "LSDIR_PASSWORD"},
        {{"LSDIR_PASSWORD", alice.password},
         {"KRB5_CONFIG", samba->Krb5ConfPath()},
         {"LDAPTLS_CACERT", samba->CaCertPath()}});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("Alice Archer\tAlice\tA\tArcher"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("12 Harbour Road  Suite 4"), std::string::npos);
    EXPECT_EQ(r.output.find(alice.password), std::string::npos);
}
