// IDirectorySearch over one bound libldap connection, and ADsOpenObject, which makes it.
//
// Memory stays bounded however large the result: a search holds at most the page being read and,
// once that page has arrived whole, the request for the next one (so that the server prepares it
// while the caller lists this one); every entry is freed once the caller has moved past it. Rows
// are therefore not kept for GetPreviousRow, whatever ADS_SEARCHPREF_CACHE_RESULTS says;
// GetFirstRow on a search already under way runs it again from the start.
//
// The search loop asks for a dozen columns of every row. An entry's attributes are located once,
// in place in the message the server sent, and only the values of the attributes asked for are
// ever converted.
#include <chrono>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "directory/ads_errors.h"
#include "directory/ads_path.h"
#include "directory/adsi.h"
#include "directory/ber_elements.h"
#include "directory/directory_schema.h"
#include "directory/ldap_connection.h"
#include "directory/value_conversion.h"
#include "platform/cstring.h"

namespace brevonix::directory {
namespace {

// Bound on every wait for the directory when the caller sets no ADS_SEARCHPREF_TIMEOUT.
constexpr int kDefaultWaitSeconds = 120;
// A page that brings no entry and the very cookie the client sent is no progress: asking again
// gets the same answer. After this many such pages in a row the search ends.
constexpr int kMaxPagesWithoutProgress = 5;
// The page size used when the server refuses a larger one (AD's and slapd's usual MaxPageSize).
constexpr int kLargestAcceptedPageSize = 1000;
// How many messages an asynchronous search reads ahead of the caller: about a page, so that the end
// of a page (and with it the request for the next one) is seen while its rows are still listed,
// whatever the page size.
constexpr size_t kReadAhead = 1024;

struct SearchPreferences {
    bool asynchronous = false;
    int derefAliases = LDAP_DEREF_NEVER;
    int sizeLimit = 0;
    int timeLimit = 0;
    bool typesOnly = false;
    int scope = LDAP_SCOPE_SUBTREE;
    int timeoutSeconds = 0;
    int pageSize = 0;
    bool cacheResults = true;
};

// One attribute of the current row: the encoded set of its values, still inside the message the
// server sent.
struct RowAttribute {
    int key;
    std::string_view values;
};

// What a filled ADS_SEARCH_COLUMN points at; its address is the column's hReserved. Columns not yet
// freed are kept on a list (linked through the columns themselves, so that keeping them costs no
// allocation) and freed with the interface.
struct ColumnStorage {
    AdsValueStore store;
    const void* owner = nullptr;
    ColumnStorage* prev = nullptr;
    ColumnStorage* next = nullptr;
};

// Lookups by a view of the name, without building a string for every cell.
template <typename Char> struct ViewHash {
    using is_transparent = void;
    size_t operator()(std::basic_string_view<Char> s) const {
        return std::hash<std::basic_string_view<Char>>{}(s);
    }
};
template <typename Char>
using NameMap = std::unordered_map<std::basic_string<Char>, int, ViewHash<Char>, std::equal_to<>>;

bool SameGuid(const GUID& a, const GUID& b) {
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

constexpr GUID kIidIUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// A filter as typed, for a message: a very long one is cut short, with its length told, so that the
// message stays readable.
std::string QuoteFilter(const std::string& filter) {
    constexpr size_t kShown = 100;
    size_t characters = 0;
    for (char c : filter)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++characters;
    if (characters <= kShown) return "\"" + filter + "\"";
    size_t cut = 0;
    for (size_t shown = 0; shown <= kShown; ++cut)
        if ((static_cast<unsigned char>(filter[cut]) & 0xC0) != 0x80) ++shown;
    return "\"" + filter.substr(0, cut - 1) + "...\" (" + std::to_string(characters) + " characters)";
}

std::u16string_view View(LPCWSTR s) {
    return s ? std::u16string_view(s) : std::u16string_view();
}

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (WideToUpper(a[i]) != WideToUpper(b[i])) return false;
    return true;
}

} // namespace
} // namespace brevonix::directory

// The search handle ADSI hands out; opaque to callers.
struct ADS_SEARCH_HANDLE__ {
    enum class State { Running, Done, Failed };

    brevonix::directory::SearchPreferences prefs;
    std::string filter;
    std::vector<std::string> attributeNames; // empty: all user attributes
    bool started = false;                    // a row has been asked for

    State state = State::Running;
    HRESULT failure = S_OK;
    DWORD failureCode = 0;
    std::string failureText;

    // Paging
    int pageSize = 0;
    bool pageSizeRetried = false;
    int pagesCompleted = 0;
    int msgid = -1;
    bool pageOutstanding = false;
    bool anotherPage = false;
    std::string cookie;

    // The messages received and not yet handed out, oldest first: chains of one message when
    // asynchronous, of a whole page when not. The first is being walked: `cursor` is the last
    // message of it looked at, `current` the entry that is the current row. A page's final message
    // that was dealt with as it arrived is `resultTaken`, and is passed over.
    std::deque<LDAPMessage*> inbox;
    LDAPMessage* cursor = nullptr;
    LDAPMessage* current = nullptr;
    LDAPMessage* resultTaken = nullptr;
    bool rowIndexed = false;
    std::vector<brevonix::directory::RowAttribute> row;

    // Attribute names resolved to keys (a schema type id, or an id of its own for names the schema
    // does not know); the same few names come up on every row, so each is resolved once per search.
    struct RequestedName {
        const char16_t* pointer; // the caller passes the same strings for every row
        std::u16string name;
        int key;
    };
    std::vector<RequestedName> requested;                 // as the caller spells it
    std::vector<std::pair<std::string, int>> layout;      // the last row's names, by position
    brevonix::directory::NameMap<char> keyByReturnedName; // as the server spells it
    brevonix::directory::NameMap<char> keyByName;         // lower case, options removed
    std::vector<std::string_view> scratch;                // the raw values of one column
    int unknownNames = 0;

    // The time limit holds for the whole search, on this side too: a server that trickles entries,
    // or pages that never end, cannot keep the caller past it.
    std::chrono::steady_clock::time_point deadline;
    int entriesThisPage = 0;
    int pagesWithoutProgress = 0;
};

namespace brevonix::directory {
namespace {

// The cookie a page's result carries for the next page; empty when the search is complete.
std::string PageCookie(LDAP* ld, LDAPControl** controls) {
    std::string out;
    if (LDAPControl* page = ldap_control_find(LDAP_CONTROL_PAGEDRESULTS, controls, nullptr)) {
        ber_int_t estimate = 0;
        berval cookie{0, nullptr};
        if (ldap_parse_pageresponse_control(ld, page, &estimate, &cookie) == LDAP_SUCCESS && cookie.bv_val)
            out.assign(cookie.bv_val, cookie.bv_len);
        ber_memfree(cookie.bv_val);
    }
    return out;
}

std::chrono::steady_clock::time_point SearchDeadline(const SearchPreferences& prefs) {
    const int seconds = prefs.timeoutSeconds > 0 ? prefs.timeoutSeconds : kDefaultWaitSeconds;
    return std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
}

class LdapDirectorySearch final : public IDirectorySearch {
public:
    explicit LdapDirectorySearch(std::unique_ptr<LdapConnection> connection)
        : m_connection(std::move(connection)) {}

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!SameGuid(riid, IID_IDirectorySearch) && !SameGuid(riid, kIidIUnknown)) return E_NOINTERFACE;
        AddRef();
        *ppv = static_cast<IDirectorySearch*>(this);
        return S_OK;
    }
    ULONG AddRef() override { return ++m_refs; }
    ULONG Release() override {
        const ULONG refs = --m_refs;
        if (refs == 0) delete this;
        return refs;
    }

    HRESULT SetSearchPreference(PADS_SEARCHPREF_INFO prefs, DWORD count) override;
    HRESULT ExecuteSearch(LPWSTR filter, LPWSTR* attributeNames, DWORD attributeCount,
                          PADS_SEARCH_HANDLE handle) override;
    HRESULT AbandonSearch(ADS_SEARCH_HANDLE handle) override;
    HRESULT GetFirstRow(ADS_SEARCH_HANDLE handle) override;
    HRESULT GetNextRow(ADS_SEARCH_HANDLE handle) override;
    HRESULT GetPreviousRow(ADS_SEARCH_HANDLE) override { return E_NOTIMPL; }
    HRESULT GetNextColumnName(ADS_SEARCH_HANDLE, LPWSTR*) override { return E_NOTIMPL; }
    HRESULT GetColumn(ADS_SEARCH_HANDLE handle, LPWSTR name, PADS_SEARCH_COLUMN column) override;
    HRESULT FreeColumn(PADS_SEARCH_COLUMN column) override;
    HRESULT CloseSearchHandle(ADS_SEARCH_HANDLE handle) override;

private:
    using Handle = ADS_SEARCH_HANDLE__;

    ~LdapDirectorySearch() override {
        for (Handle* h : m_handles)
            Destroy(h);
        while (m_columns) {
            ColumnStorage* next = m_columns->next;
            delete m_columns;
            m_columns = next;
        }
    }

    LDAP* Ld() const { return m_connection->Handle(); }
    // The loop asks about the same handle for every column of every row: the last one found is
    // remembered.
    bool Valid(ADS_SEARCH_HANDLE h) const {
        if (h && h == m_lastValid) return true;
        if (!h || m_handles.count(h) == 0) return false;
        m_lastValid = h;
        return true;
    }

    HRESULT SendPage(Handle& h);
    int IssueRequest(Handle& h);
    HRESULT Wait(Handle& h);
    void Received(Handle& h, LDAPMessage* chain);
    HRESULT HandleResult(Handle& h, LDAPMessage* msg);
    HRESULT Advance(Handle& h);
    HRESULT Restart(Handle& h);
    HRESULT FailSearch(Handle& h, DWORD code, const std::string& text, HRESULT hr);
    HRESULT CheckProgress(Handle& h, const std::string& cookieSent);
    HRESULT FailSearchLdap(Handle& h, std::string_view what, int rc, std::string_view diagnostic);
    void StopRequest(Handle& h);
    void ReleaseRow(Handle& h);
    void ReleaseChain(Handle& h);
    void ReleaseFront(Handle& h);
    void IndexRow(Handle& h);
    int KeyForName(Handle& h, std::string_view name);
    int KeyForReturnedName(Handle& h, size_t position, std::string_view name);
    const Handle::RequestedName& RequestedNameOf(Handle& h, LPCWSTR name);
    void Destroy(Handle* h);

    std::unique_ptr<LdapConnection> m_connection;
    ULONG m_refs = 1;
    SearchPreferences m_prefs;
    std::unordered_set<Handle*> m_handles;
    mutable Handle* m_lastValid = nullptr;
    ColumnStorage* m_columns = nullptr;
};

// ---- Preferences ----------------------------------------------------------------------------------

namespace {

// What each preference accepts and where it goes: a boolean, or an integer within [min, max].
struct PreferenceRule {
    ADS_SEARCHPREF_ENUM preference;
    bool boolean;
    int min, max;
    bool SearchPreferences::*flag;
    int SearchPreferences::*number;
};

constexpr int kNoMax = std::numeric_limits<int>::max();
constexpr PreferenceRule kPreferenceRules[] = {
    {ADS_SEARCHPREF_ASYNCHRONOUS, true, 0, 0, &SearchPreferences::asynchronous, nullptr},
    {ADS_SEARCHPREF_DEREF_ALIASES, false, 0, 3, nullptr, &SearchPreferences::derefAliases},
    {ADS_SEARCHPREF_SIZE_LIMIT, false, 0, kNoMax, nullptr, &SearchPreferences::sizeLimit},
    {ADS_SEARCHPREF_TIME_LIMIT, false, 0, kNoMax, nullptr, &SearchPreferences::timeLimit},
    {ADS_SEARCHPREF_ATTRIBTYPES_ONLY, true, 0, 0, &SearchPreferences::typesOnly, nullptr},
    {ADS_SEARCHPREF_SEARCH_SCOPE, false, 0, ADS_SCOPE_SUBTREE, nullptr, &SearchPreferences::scope},
    {ADS_SEARCHPREF_TIMEOUT, false, 0, kNoMax, nullptr, &SearchPreferences::timeoutSeconds},
    {ADS_SEARCHPREF_PAGESIZE, false, 0, kNoMax, nullptr, &SearchPreferences::pageSize},
    {ADS_SEARCHPREF_CACHE_RESULTS, true, 0, 0, &SearchPreferences::cacheResults, nullptr},
    // Referrals are never chased; asking for exactly that is fine.
    {ADS_SEARCHPREF_CHASE_REFERRALS, false, 0, 0, nullptr, nullptr},
};

} // namespace

HRESULT LdapDirectorySearch::SetSearchPreference(PADS_SEARCHPREF_INFO prefs, DWORD count) {
    if (!prefs && count) return E_POINTER;
    bool allAccepted = true;
    for (DWORD i = 0; i < count; ++i) {
        ADS_SEARCHPREF_INFO& p = prefs[i];
        const PreferenceRule* rule = nullptr;
        for (const PreferenceRule& r : kPreferenceRules)
            if (r.preference == p.dwSearchPref) rule = &r;
        ADS_STATUSENUM status = ADS_STATUS_S_OK;
        if (!rule) {
            status = ADS_STATUS_INVALID_SEARCHPREF;
        } else if (rule->boolean) {
            if (p.vValue.dwType == ADSTYPE_BOOLEAN)
                m_prefs.*(rule->flag) = p.vValue.Boolean != 0;
            else
                status = ADS_STATUS_INVALID_SEARCHPREFVALUE;
        } else {
            const auto value = static_cast<std::int32_t>(p.vValue.Integer);
            if (p.vValue.dwType == ADSTYPE_INTEGER && value >= rule->min && value <= rule->max) {
                if (rule->number) m_prefs.*(rule->number) = value;
            } else {
                status = ADS_STATUS_INVALID_SEARCHPREFVALUE;
            }
        }
        p.dwStatus = status;
        if (status != ADS_STATUS_S_OK) allAccepted = false;
    }
    return allAccepted ? S_OK : S_ADS_ERRORSOCCURRED;
}

// ---- Running the search ---------------------------------------------------------------------------

HRESULT LdapDirectorySearch::ExecuteSearch(LPWSTR filter, LPWSTR* attributeNames, DWORD attributeCount,
                                           PADS_SEARCH_HANDLE phSearch) {
    if (!phSearch) return E_POINTER;
    *phSearch = nullptr;
    ClearLastAdsError();

    auto h = std::make_unique<Handle>();
    h->prefs = m_prefs;
    h->deadline = SearchDeadline(m_prefs);
    h->pageSize = m_prefs.pageSize;
    h->filter = filter && *filter ? CString(filter).ToUtf8() : std::string("(objectClass=*)");
    if (attributeNames && attributeCount != static_cast<DWORD>(-1)) {
        for (DWORD i = 0; i < attributeCount; ++i)
            if (attributeNames[i]) h->attributeNames.push_back(CString(attributeNames[i]).ToUtf8());
    }
    if (HRESULT hr = SendPage(*h); FAILED(hr)) return hr;
    *phSearch = h.get();
    m_handles.insert(h.release());
    return S_OK;
}

HRESULT LdapDirectorySearch::SendPage(Handle& h) {
    const int rc = IssueRequest(h);
    if (rc == LDAP_FILTER_ERROR) {
        h.state = Handle::State::Failed;
        h.failure = E_ADS_INVALID_FILTER;
        h.failureCode = ERROR_DS_FILTER_UNKNOWN;
        h.failureText = "search: the filter " + QuoteFilter(h.filter) + " is not a valid LDAP search filter";
        SetLastAdsError(h.failureCode, h.failureText);
        return h.failure;
    }
    if (rc != LDAP_SUCCESS) return FailSearchLdap(h, "search", rc, {});
    return S_OK;
}

// Sends the search request for the next page (or the whole search). Changes nothing but the
// request state, so that a failure can wait until the rows already received are handed out.
int LdapDirectorySearch::IssueRequest(Handle& h) {
    LDAPControl* pageControl = nullptr;
    // A server that says it cannot page would ignore the control; one whose root DSE could not be
    // read is asked anyway (the control is not critical).
    const bool paging = h.pageSize > 0 && (!m_connection->Root().read ||
                                           m_connection->Root().SupportsControl(LDAP_CONTROL_PAGEDRESULTS));
    if (paging) {
        berval cookie{static_cast<ber_len_t>(h.cookie.size()), h.cookie.data()};
        const int rc = ldap_create_page_control(Ld(), static_cast<ber_int_t>(h.pageSize),
                                                h.cookie.empty() ? nullptr : &cookie, 0, &pageControl);
        if (rc != LDAP_SUCCESS) return rc;
    }
    LDAPControl* controls[] = {pageControl, nullptr};

    std::vector<char*> attrs;
    for (std::string& a : h.attributeNames)
        attrs.push_back(a.data());
    attrs.push_back(nullptr);

    const int serverTimeLimit = h.prefs.timeLimit > 0 ? h.prefs.timeLimit : h.prefs.timeoutSeconds;
    timeval timeLimit{serverTimeLimit, 0};
    ldap_set_option(Ld(), LDAP_OPT_DEREF, &h.prefs.derefAliases);
    ClearDiagnostic(Ld());
    int rc;
    int msgid = -1;
    {
        SigpipeGuard guard;
        rc = ldap_search_ext(Ld(), m_connection->BaseDn().c_str(), h.prefs.scope, h.filter.c_str(),
                             h.attributeNames.empty() ? nullptr : attrs.data(), h.prefs.typesOnly ? 1 : 0,
                             pageControl ? controls : nullptr, nullptr,
                             serverTimeLimit > 0 ? &timeLimit : nullptr, h.prefs.sizeLimit, &msgid);
    }
    ldap_control_free(pageControl);
    if (rc != LDAP_SUCCESS) return rc;
    h.msgid = msgid;
    h.pageOutstanding = true;
    h.anotherPage = false;
    h.entriesThisPage = 0;
    return LDAP_SUCCESS;
}

// Waits for the next message of the search; an asynchronous search then also takes whatever else
// has already arrived, up to about a page, without waiting.
HRESULT LdapDirectorySearch::Wait(Handle& h) {
    const int seconds = h.prefs.timeoutSeconds > 0 ? h.prefs.timeoutSeconds : kDefaultWaitSeconds;
    const auto left =
        std::chrono::duration_cast<std::chrono::microseconds>(h.deadline - std::chrono::steady_clock::now());
    const std::string timedOut =
        "search: the search did not end within its time limit of " + std::to_string(seconds) + " seconds";
    if (left.count() <= 0) return FailSearch(h, ERROR_TIMEOUT, timedOut, HRESULT_FROM_WIN32(ERROR_TIMEOUT));
    timeval timeout{static_cast<time_t>(left.count() / 1000000),
                    static_cast<suseconds_t>(left.count() % 1000000)};
    LDAPMessage* res = nullptr;
    ClearDiagnostic(Ld());
    int rc;
    SigpipeGuard guard;
    // Reading ahead stops at the end of this request's answer, even when the next page has been
    // asked for meanwhile: a taken page end must be passed before the next one is taken.
    const int outstanding = h.msgid;
    rc = ldap_result(Ld(), h.msgid, h.prefs.asynchronous ? LDAP_MSG_ONE : LDAP_MSG_ALL, &timeout, &res);
    if (rc == 0 || rc == -1) {
        ldap_msgfree(res);
        if (rc == 0) {
            return FailSearch(h, ERROR_TIMEOUT, timedOut, HRESULT_FROM_WIN32(ERROR_TIMEOUT));
        }
        h.pageOutstanding = false; // the connection is gone; nothing left to abandon
        return FailSearchLdap(h, "search", m_connection->LastResultCode(), {});
    }
    Received(h, res);
    if (!h.prefs.asynchronous) return S_OK;
    // A failure here is not reported yet: the rows before it come first, and the next wait meets
    // the same failure.
    while (h.pageOutstanding && h.msgid == outstanding && h.inbox.size() < kReadAhead) {
        timeval now{0, 0};
        res = nullptr;
        if (ldap_result(Ld(), h.msgid, LDAP_MSG_ONE, &now, &res) <= 0) {
            ldap_msgfree(res);
            break;
        }
        Received(h, res);
    }
    return S_OK;
}

// Queues a chain that has just arrived. A page that ended well is dealt with at once, and the next
// page asked for, so that the server works on it while the caller lists this one.
void LdapDirectorySearch::Received(Handle& h, LDAPMessage* chain) {
    h.inbox.push_back(chain);
    h.entriesThisPage += ldap_count_entries(Ld(), chain);
    for (LDAPMessage* msg = ldap_first_message(Ld(), chain); msg; msg = ldap_next_message(Ld(), msg)) {
        if (ldap_msgtype(msg) != LDAP_RES_SEARCH_RESULT) continue;
        h.pageOutstanding = false;
        // Only one page end is taken ahead of the caller; any other waits for its turn.
        if (h.resultTaken) continue;
        int err = LDAP_OTHER;
        LDAPControl** controls = nullptr;
        if (ldap_parse_result(Ld(), msg, &err, nullptr, nullptr, nullptr, &controls, 0) != LDAP_SUCCESS ||
            err != LDAP_SUCCESS) {
            // A failure or a refused page size: handled when the caller gets to it.
            ldap_controls_free(controls);
            continue;
        }
        const std::string cookieSent = h.cookie;
        h.cookie = PageCookie(Ld(), controls);
        ldap_controls_free(controls);
        const bool noProgress = !h.cookie.empty() && h.cookie == cookieSent && h.entriesThisPage == 0;
        if (noProgress && h.pagesWithoutProgress + 1 >= kMaxPagesWithoutProgress) {
            // HandleResult ends the search here, once the rows before it are out.
            h.cookie = cookieSent;
            continue;
        }
        h.pagesWithoutProgress = noProgress ? h.pagesWithoutProgress + 1 : 0;
        ++h.pagesCompleted;
        h.anotherPage = !h.cookie.empty();
        h.resultTaken = msg;
        // If this fails, Advance asks again once these rows are out, and reports it then.
        if (h.anotherPage) IssueRequest(h);
    }
}

HRESULT LdapDirectorySearch::HandleResult(Handle& h, LDAPMessage* msg) {
    h.pageOutstanding = false;
    int err = LDAP_SUCCESS;
    char* diag = nullptr;
    LDAPControl** controls = nullptr;
    const int rc = ldap_parse_result(Ld(), msg, &err, nullptr, &diag, nullptr, &controls, 0);
    const std::string diagnostic = diag ? diag : "";
    ldap_memfree(diag);
    if (rc != LDAP_SUCCESS) {
        ldap_controls_free(controls);
        return FailSearchLdap(h, "search", rc, {});
    }
    if (err == LDAP_SUCCESS) {
        const std::string cookieSent = h.cookie;
        h.cookie = PageCookie(Ld(), controls);
        ldap_controls_free(controls);
        if (HRESULT hr = CheckProgress(h, cookieSent); FAILED(hr)) return hr;
        ++h.pagesCompleted;
        h.anotherPage = !h.cookie.empty();
        return S_OK;
    }
    ldap_controls_free(controls);
    // AD caps a large page size silently; slapd refuses it. Ask again, once, at the size servers
    // usually allow.
    if (err == LDAP_ADMINLIMIT_EXCEEDED && h.pagesCompleted == 0 && !h.pageSizeRetried &&
        h.pageSize > kLargestAcceptedPageSize) {
        h.pageSizeRetried = true;
        h.pageSize = kLargestAcceptedPageSize;
        h.cookie.clear();
        h.anotherPage = true;
        return S_OK;
    }
    return FailSearchLdap(h, "search", err, diagnostic);
}

HRESULT LdapDirectorySearch::Advance(Handle& h) {
    if (h.state == Handle::State::Failed) {
        SetLastAdsError(h.failureCode, h.failureText);
        return h.failure;
    }
    if (h.state == Handle::State::Done) return S_ADS_NOMORE_ROWS;
    ReleaseRow(h);
    for (;;) {
        LDAPMessage* msg = nullptr;
        if (!h.inbox.empty())
            msg = h.cursor ? ldap_next_message(Ld(), h.cursor) : ldap_first_message(Ld(), h.inbox.front());
        if (!msg) {
            if (!h.inbox.empty()) {
                ReleaseFront(h);
                continue;
            }
            HRESULT hr = S_OK;
            if (h.pageOutstanding) {
                hr = Wait(h);
            } else if (h.anotherPage) {
                hr = SendPage(h);
            } else {
                h.state = Handle::State::Done;
                return S_ADS_NOMORE_ROWS;
            }
            if (FAILED(hr)) return hr;
            continue;
        }
        h.cursor = msg;
        switch (ldap_msgtype(msg)) {
        case LDAP_RES_SEARCH_ENTRY:
            h.current = msg;
            return S_OK;
        case LDAP_RES_SEARCH_RESULT:
            if (msg == h.resultTaken) {
                h.resultTaken = nullptr;
                break;
            }
            if (HRESULT hr = HandleResult(h, msg); FAILED(hr)) return hr;
            break;
        default:
            // Search references (AD returns some on every subtree search) are never followed.
            break;
        }
    }
}

HRESULT LdapDirectorySearch::Restart(Handle& h) {
    StopRequest(h);
    ReleaseChain(h);
    h.state = Handle::State::Running;
    h.failure = S_OK;
    h.pageSize = h.prefs.pageSize;
    h.pageSizeRetried = false;
    h.deadline = SearchDeadline(h.prefs);
    h.pagesWithoutProgress = 0;
    h.pagesCompleted = 0;
    h.cookie.clear();
    return SendPage(h);
}

HRESULT LdapDirectorySearch::GetFirstRow(ADS_SEARCH_HANDLE handle) {
    if (!Valid(handle)) return E_ADS_BAD_PARAMETER;
    Handle& h = *handle;
    if (h.started) {
        if (HRESULT hr = Restart(h); FAILED(hr)) return hr;
    }
    h.started = true;
    return Advance(h);
}

HRESULT LdapDirectorySearch::GetNextRow(ADS_SEARCH_HANDLE handle) {
    if (!Valid(handle)) return E_ADS_BAD_PARAMETER;
    handle->started = true;
    return Advance(*handle);
}

HRESULT LdapDirectorySearch::AbandonSearch(ADS_SEARCH_HANDLE handle) {
    if (!Valid(handle)) return E_ADS_BAD_PARAMETER;
    StopRequest(*handle);
    ReleaseChain(*handle);
    if (handle->state == Handle::State::Running) handle->state = Handle::State::Done;
    return S_OK;
}

HRESULT LdapDirectorySearch::CloseSearchHandle(ADS_SEARCH_HANDLE handle) {
    if (!Valid(handle)) return E_ADS_BAD_PARAMETER;
    m_handles.erase(handle);
    m_lastValid = nullptr;
    Destroy(handle);
    return S_OK;
}

void LdapDirectorySearch::Destroy(Handle* h) {
    StopRequest(*h);
    ReleaseChain(*h);
    delete h;
}

HRESULT LdapDirectorySearch::CheckProgress(Handle& h, const std::string& cookieSent) {
    if (h.cookie.empty() || h.cookie != cookieSent || h.entriesThisPage > 0) {
        h.pagesWithoutProgress = 0;
        return S_OK;
    }
    if (++h.pagesWithoutProgress < kMaxPagesWithoutProgress) return S_OK;
    return FailSearch(h, Win32ErrorForLdapResult(LDAP_PROTOCOL_ERROR),
                      "search: the directory kept answering with an empty page and the same cookie, so the "
                      "search was stopped",
                      HResultForLdapResult(LDAP_PROTOCOL_ERROR));
}

HRESULT LdapDirectorySearch::FailSearch(Handle& h, DWORD code, const std::string& text, HRESULT hr) {
    StopRequest(h);
    ReleaseChain(h);
    h.state = Handle::State::Failed;
    h.failure = hr;
    h.failureCode = code;
    h.failureText = text;
    SetLastAdsError(code, text);
    return hr;
}

HRESULT LdapDirectorySearch::FailSearchLdap(Handle& h, std::string_view what, int rc,
                                            std::string_view diagnostic) {
    std::string diag(diagnostic);
    if (diag.empty()) {
        char* d = nullptr;
        if (ldap_get_option(Ld(), LDAP_OPT_DIAGNOSTIC_MESSAGE, &d) == LDAP_OPT_SUCCESS && d) diag = d;
        ldap_memfree(d);
    }
    return FailSearch(h, Win32ErrorForLdapResult(rc), DescribeLdapFailure(what, rc, diag),
                      HResultForLdapResult(rc));
}

void LdapDirectorySearch::StopRequest(Handle& h) {
    if (h.pageOutstanding && h.msgid >= 0) {
        SigpipeGuard guard;
        ldap_abandon_ext(Ld(), h.msgid, nullptr, nullptr);
    }
    h.pageOutstanding = false;
    h.anotherPage = false;
}

void LdapDirectorySearch::ReleaseRow(Handle& h) {
    h.row.clear();
    h.rowIndexed = false;
    h.current = nullptr;
}

// Frees every message received and not handed out.
void LdapDirectorySearch::ReleaseChain(Handle& h) {
    ReleaseRow(h);
    for (LDAPMessage* chain : h.inbox)
        ldap_msgfree(chain);
    h.inbox.clear();
    h.cursor = nullptr;
    h.resultTaken = nullptr;
}

// Frees the chain the caller has moved past.
void LdapDirectorySearch::ReleaseFront(Handle& h) {
    ReleaseRow(h);
    ldap_msgfree(h.inbox.front());
    h.inbox.pop_front();
    h.cursor = nullptr;
}

// ---- Columns --------------------------------------------------------------------------------------

// The server sends the same attributes in the same order for entry after entry: the name at each
// position is compared with the last row's before it is looked up.
int LdapDirectorySearch::KeyForReturnedName(Handle& h, size_t position, std::string_view name) {
    if (position < h.layout.size() && h.layout[position].first == name) return h.layout[position].second;
    int key;
    if (auto it = h.keyByReturnedName.find(name); it != h.keyByReturnedName.end()) {
        key = it->second;
    } else {
        key = KeyForName(h, name);
        h.keyByReturnedName.emplace(std::string(name), key);
    }
    if (position < h.layout.size())
        h.layout[position] = {std::string(name), key};
    else if (position == h.layout.size())
        h.layout.emplace_back(std::string(name), key);
    return key;
}

int LdapDirectorySearch::KeyForName(Handle& h, std::string_view name) {
    if (const size_t semi = name.find(';'); semi != std::string_view::npos) name = name.substr(0, semi);
    std::string lower = LowerAscii(name);
    if (auto it = h.keyByName.find(lower); it != h.keyByName.end()) return it->second;
    const DirectorySchema& schema = m_connection->Schema();
    int key = schema.TypeId(lower);
    if (key < 0) key = static_cast<int>(schema.Size()) + h.unknownNames++;
    h.keyByName.emplace(std::move(lower), key);
    return key;
}

auto LdapDirectorySearch::RequestedNameOf(Handle& h, LPCWSTR name) -> const Handle::RequestedName& {
    auto same = [name](const std::u16string& known) {
        for (size_t i = 0; i < known.size(); ++i)
            if (name[i] != known[i]) return false;
        return name[known.size()] == u'\0';
    };
    for (const Handle::RequestedName& r : h.requested)
        if (r.pointer == name && same(r.name)) return r;
    for (Handle::RequestedName& r : h.requested)
        if (same(r.name)) {
            r.pointer = name;
            return r;
        }
    const std::u16string_view text = View(name);
    const int key = KeyForName(h, CString(text).ToUtf8());
    // A caller that asks for ever new names is not remembered without end.
    if (h.requested.size() == 64) h.requested.pop_back();
    return h.requested.emplace_back(Handle::RequestedName{name, std::u16string(text), key});
}

// Locates the current entry's attributes, in place: the type of each and the encoded set of its
// values. An entry that breaks the encoding keeps the attributes before the break.
void LdapDirectorySearch::IndexRow(Handle& h) {
    if (h.rowIndexed || !h.current) return;
    h.rowIndexed = true;
    BerElement* ber = nullptr;
    berval dn{0, nullptr};
    // Leaves `ber` at the first attribute, bounded by the end of the attribute list.
    if (ldap_get_dn_ber(Ld(), h.current, &ber, &dn) == LDAP_SUCCESS) {
        berval attribute{0, nullptr};
        for (size_t position = 0; ber_skip_element(ber, &attribute) == LBER_SEQUENCE; ++position) {
            std::string_view type, values;
            if (!SplitAttribute(std::string_view(attribute.bv_val, attribute.bv_len), type, values)) break;
            h.row.push_back({KeyForReturnedName(h, position, type), values});
        }
    }
    if (ber) ber_free(ber, 0);
}

HRESULT LdapDirectorySearch::GetColumn(ADS_SEARCH_HANDLE handle, LPWSTR name, PADS_SEARCH_COLUMN column) {
    if (!column) return E_POINTER;
    std::memset(column, 0, sizeof *column);
    if (!Valid(handle) || !name) return E_ADS_BAD_PARAMETER;
    Handle& h = *handle;
    if (!h.current) return E_ADS_BAD_PARAMETER;

    const Handle::RequestedName& requested = RequestedNameOf(h, name);
    const int key = requested.key;
    IndexRow(h);
    std::vector<std::string_view>& raw = h.scratch;
    raw.clear();
    bool found = false;
    for (const RowAttribute& a : h.row) {
        if (a.key != key) continue;
        found = true;
        std::string_view values = a.values;
        unsigned char tag = 0;
        std::string_view value;
        while (TakeElement(values, tag, value))
            raw.push_back(value);
    }
    std::string adsPath;
    ValueSyntax syntax = m_connection->Schema().Syntax(key);
    if (!found && EqualsNoCase(requested.name, u"ADsPath")) {
        // Every row has an ADsPath, made from the server of the bind and the entry's DN.
        char* dn = ldap_get_dn(Ld(), h.current);
        adsPath = "LDAP://" + m_connection->Path().Server() + "/" + (dn ? dn : "");
        ldap_memfree(dn);
        raw.emplace_back(adsPath);
        syntax = ValueSyntax{};
        found = true;
    }
    if (!found) return E_ADS_COLUMN_NOT_SET;

    // Not value-initialised: the store's arena needs no zeroing.
    auto* storage = new ColumnStorage;
    ADSVALUE* values = storage->store.AddValues(raw.size());
    column->dwADsType =
        ConvertAdsValues(raw, syntax, storage->store, std::span<ADSVALUE>(values, raw.size()));
    column->pszAttrName = storage->store.AddString(requested.name);
    column->pADsValues = values;
    column->dwNumValues = static_cast<DWORD>(raw.size());
    column->hReserved = storage;
    storage->owner = this;
    storage->next = m_columns;
    if (m_columns) m_columns->prev = storage;
    m_columns = storage;
    return S_OK;
}

HRESULT LdapDirectorySearch::FreeColumn(PADS_SEARCH_COLUMN column) {
    if (!column) return E_POINTER;
    if (!column->hReserved) return S_OK; // nothing was filled, or it was freed already
    auto* storage = static_cast<ColumnStorage*>(column->hReserved);
    if (storage->owner != this) return E_ADS_BAD_PARAMETER;
    if (storage->prev)
        storage->prev->next = storage->next;
    else
        m_columns = storage->next;
    if (storage->next) storage->next->prev = storage->prev;
    delete storage;
    std::memset(column, 0, sizeof *column);
    return S_OK;
}

} // namespace
} // namespace brevonix::directory

HRESULT ADsOpenObject(LPCWSTR lpszPathName, LPCWSTR lpszUserName, LPCWSTR lpszPassword, DWORD dwReserved,
                      REFIID riid, void** ppObject) {
    using namespace brevonix::directory;
    if (!ppObject) return E_POINTER;
    *ppObject = nullptr;
    ClearLastAdsError();
    if (!SameGuid(riid, IID_IDirectorySearch) && !SameGuid(riid, kIidIUnknown)) return E_NOINTERFACE;
    AdsPath path;
    if (!lpszPathName || !ParseAdsPath(lpszPathName, (dwReserved & ADS_USE_SSL) != 0, path)) {
        SetLastAdsError(ERROR_INVALID_PARAMETER,
                        "\"" + (lpszPathName ? CString(lpszPathName).ToUtf8() : std::string()) +
                            "\" is not a path of the form LDAP://server[:port][/DN]");
        return E_ADS_BAD_PATHNAME;
    }
    std::unique_ptr<LdapConnection> connection;
    if (HRESULT hr = LdapConnection::Open(path, lpszUserName, lpszPassword, dwReserved, connection);
        FAILED(hr))
        return hr;
    *ppObject = static_cast<IDirectorySearch*>(new LdapDirectorySearch(std::move(connection)));
    return S_OK;
}
