// Generate from end to end against a Samba Active Directory domain controller: the domain name
// found through the DC locator (Samba's SRV records), typed credentials through Kerberos, and the
// logged-on user's own ticket. Runs inside the lab namespace, where lab names resolve only through
// Samba's DNS on loopback.
#include <gtest/gtest.h>

#include "directory/adsi.h"
#include "gui_support.h"
#include "res/resource.h"
#include "support/samba_fixture.h"

using namespace brevonix::samba_test;

namespace {

#define RUN_IN_LAB_NAMESPACE(samba)                                                                          \
    if (!InLabNamespace()) {                                                                                 \
        RunCurrentTestInNamespace((samba)->Namespace());                                                     \
        return;                                                                                              \
    }

// Kerberos configured for the lab realm, the lab CA trusted, and a ticket cache of the test's own.
class Workstation {
public:
    explicit Workstation(const SambaFixture* samba)
        : config_("KRB5_CONFIG", samba->Krb5ConfPath()), ca_("LDAPTLS_CACERT", samba->CaCertPath()),
          cache_("KRB5CCNAME", "FILE:" + dir_.File("cache")) {}

private:
    TempDir dir_{"brevonix-gui-samba"};
    ScopedEnv config_;
    ScopedEnv ca_;
    ScopedEnv cache_;
};

struct Listing {
    std::vector<std::vector<CString>> rows;
    CString count;
};

Listing Generate(const SambaFixture* samba, const CString& user, const CString& password,
                 RecordingSeam& seam) {
    Listing out;
    CVexlorDlg dlg;
    RunMainWindow(dlg, [&](CVexlorDlg& d) {
        d.m_lstResult.InsertColumn(6, u"TELEPHONE NUMBER", LVCFMT_LEFT, 90);
        d.m_lstResult.InsertColumn(7, u"ADDRESS", LVCFMT_LEFT, 90);
        d.m_lstResult.InsertColumn(8, u"WEB SITE ADDRESS", LVCFMT_LEFT, 90);
        d.m_edtDomain.SetWindowText(CString::FromUtf8(samba->DnsDomain()));
        d.SetDlgItemText(IDC_EDT_USER, user);
        d.SetDlgItemText(IDC_EDT_PASSWORD, password);
        afxtest::Click(::GetDlgItem(d.m_hWnd, IDC_BTN_GENERATE));
        out.rows = Rows(d);
        out.count = CountText(d);
    });
    (void)seam;
    return out;
}

const std::vector<CString>* RowNamed(const Listing& l, const CString& cn) {
    for (const auto& row : l.rows)
        if (row[0] == cn) return &row;
    return nullptr;
}

void ExpectSeededUsers(const Listing& l) {
    ASSERT_GT(l.rows.size(), 30u);
    EXPECT_EQ(l.count, CString::FromUtf8(std::to_string(l.rows.size())));
    const auto* alice = RowNamed(l, u"Alice Archer");
    ASSERT_NE(alice, nullptr);
    EXPECT_EQ((*alice)[1], u"Alice");
    EXPECT_EQ((*alice)[3], u"Archer");
    EXPECT_EQ((*alice)[5], u"Engineering  platform team  on call");
    EXPECT_EQ((*alice)[6], u"+1 555 0100");
    EXPECT_EQ((*alice)[7], u"12 Harbour Road  Suite 4");
    // A multi-valued attribute: its values joined with ";" (in the order the directory keeps them).
    EXPECT_EQ((*alice)[8].Find(u"https://"), 0) << (*alice)[8].ToUtf8();
    EXPECT_EQ(std::count((*alice)[8].GetString(), (*alice)[8].GetString() + (*alice)[8].GetLength(), u';'),
              2);
    const auto* zoe = RowNamed(l, u"Zo\u00EB \u00C5ngstr\u00F6m");
    ASSERT_NE(zoe, nullptr);
    EXPECT_EQ((*zoe)[6], u"-");
    EXPECT_EQ((*zoe)[5], u"\u00DCbersetzerin  Lektorin");
}

} // namespace

TEST(GenerateAgainstSamba, TypedCredentialsListEveryUserOfTheDomain) {
    BREVONIX_REQUIRE_SAMBA(samba);
    RUN_IN_LAB_NAMESPACE(samba);
    Workstation workstation(samba);
    const SambaAccount alice = samba->User();
    RecordingSeam seam;
    const size_t logStart = samba->LogSize();
    const Listing l = Generate(samba, CString::FromUtf8(alice.upn), CString::FromUtf8(alice.password), seam);
    EXPECT_TRUE(seam.messages.empty()) << (seam.messages.empty() ? "" : seam.messages[0].text.ToUtf8());
    ExpectSeededUsers(l);
    // The typed password went into a Kerberos ticket, not over the wire.
    EXPECT_NE(samba->LogSince(logStart).find("[LDAP,krb5]"), std::string::npos);
}

TEST(GenerateAgainstSamba, TheLoggedOnUsersTicketIsUsedWhenNoCredentialsAreTyped) {
    BREVONIX_REQUIRE_SAMBA(samba);
    RUN_IN_LAB_NAMESPACE(samba);
    Workstation workstation(samba);
    const SambaAccount alice = samba->User();
    CommandResult kinit = RunCommand({"kinit", alice.samAccountName + "@" + samba->Realm()}, {},
                                     std::chrono::seconds(30), alice.password + "\n");
    ASSERT_EQ(kinit.exitCode, 0) << kinit.output;
    RecordingSeam seam;
    const Listing l = Generate(samba, u"", u"", seam);
    EXPECT_TRUE(seam.messages.empty()) << (seam.messages.empty() ? "" : seam.messages[0].text.ToUtf8());
    ExpectSeededUsers(l);
}

TEST(GenerateAgainstSamba, WithoutATicketTheLoggedOnBindFailsWithTheControllersName) {
    BREVONIX_REQUIRE_SAMBA(samba);
    RUN_IN_LAB_NAMESPACE(samba);
    Workstation workstation(samba); // an empty cache: no ticket
    RecordingSeam seam;
    const Listing l = Generate(samba, u"", u"", seam);
    EXPECT_TRUE(l.rows.empty());
    ASSERT_EQ(seam.messages.size(), 1u);
    EXPECT_EQ(seam.messages[0].text,
              CString(u"Enter valid credentials of \"") + CString::FromUtf8(samba->DcHostName()) + u"\"");
}

TEST(GenerateAgainstSamba, ADomainTheLocatorCannotFindIsInvalid) {
    BREVONIX_REQUIRE_SAMBA(samba);
    RUN_IN_LAB_NAMESPACE(samba);
    Workstation workstation(samba);
    RecordingSeam seam;
    CVexlorDlg dlg;
    RunMainWindow(dlg, [&](CVexlorDlg& d) {
        d.m_edtDomain.SetWindowText(u"nosuch.brevonix.test");
        afxtest::Click(::GetDlgItem(d.m_hWnd, IDC_BTN_GENERATE));
    });
    ASSERT_EQ(seam.messages.size(), 1u);
    EXPECT_EQ(seam.messages[0].text, u"Invalid domain name.");
}
