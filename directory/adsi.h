// The directory service interface the tool is written against: the ADSI search interface, the
// network management calls that find a domain and its controller, and the bits of COM they need.
//
// Records, codes and method shapes are the published ones. The implementation stands on OpenLDAP's
// libldap (with Cyrus SASL and MIT Kerberos); none of those types appear in this header.
#pragma once

#include "platform/win32.h"

// ---- COM ----------------------------------------------------------------------------------------

HRESULT CoInitialize(LPVOID pvReserved);
void CoUninitialize();
// Writes the braced GUID text ("{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}") and returns the number of
// characters written including the terminator, or 0 when the buffer is too small.
int StringFromGUID2(REFGUID rguid, LPWSTR lpsz, int cchMax);

struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** ppvObject) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    virtual ~IUnknown() = default;
};

// ---- ADSI types -----------------------------------------------------------------------------------

enum ADSTYPEENUM : DWORD {
    ADSTYPE_INVALID = 0,
    ADSTYPE_DN_STRING = 1,
    ADSTYPE_CASE_EXACT_STRING = 2,
    ADSTYPE_CASE_IGNORE_STRING = 3,
    ADSTYPE_PRINTABLE_STRING = 4,
    ADSTYPE_NUMERIC_STRING = 5,
    ADSTYPE_BOOLEAN = 6,
    ADSTYPE_INTEGER = 7,
    ADSTYPE_OCTET_STRING = 8,
    ADSTYPE_UTC_TIME = 9,
    ADSTYPE_LARGE_INTEGER = 10,
    ADSTYPE_PROV_SPECIFIC = 11,
    ADSTYPE_OBJECT_CLASS = 12,
    ADSTYPE_CASEIGNORE_LIST = 13,
    ADSTYPE_OCTET_LIST = 14,
    ADSTYPE_PATH = 15,
    ADSTYPE_POSTALADDRESS = 16,
    ADSTYPE_TIMESTAMP = 17,
    ADSTYPE_BACKLINK = 18,
    ADSTYPE_TYPEDNAME = 19,
    ADSTYPE_HOLD = 20,
    ADSTYPE_NETADDRESS = 21,
    ADSTYPE_REPLICAPOINTER = 22,
    ADSTYPE_FAXNUMBER = 23,
    ADSTYPE_EMAIL = 24,
    ADSTYPE_NT_SECURITY_DESCRIPTOR = 25,
    ADSTYPE_UNKNOWN = 26,
    ADSTYPE_DN_WITH_BINARY = 27,
    ADSTYPE_DN_WITH_STRING = 28,
};
using ADSTYPE = ADSTYPEENUM;

using ADS_DN_STRING = LPWSTR;
using ADS_CASE_EXACT_STRING = LPWSTR;
using ADS_CASE_IGNORE_STRING = LPWSTR;
using ADS_PRINTABLE_STRING = LPWSTR;
using ADS_NUMERIC_STRING = LPWSTR;
using ADS_OBJECT_CLASS = LPWSTR;
using ADS_BOOLEAN = DWORD;
using ADS_INTEGER = DWORD;
using ADS_UTC_TIME = SYSTEMTIME;
using ADS_LARGE_INTEGER = LARGE_INTEGER;

struct ADS_OCTET_STRING {
    DWORD dwLength;
    BYTE* lpValue;
};

struct ADS_PROV_SPECIFIC {
    DWORD dwLength;
    BYTE* lpValue;
};

struct ADS_NT_SECURITY_DESCRIPTOR {
    DWORD dwLength;
    BYTE* lpValue;
};

struct ADS_DN_WITH_BINARY {
    DWORD dwLength;
    BYTE* lpBinaryValue;
    LPWSTR pszDNString;
};

struct ADS_DN_WITH_STRING {
    LPWSTR pszStringValue;
    LPWSTR pszDNString;
};

struct ADSVALUE {
    ADSTYPE dwType;
    union {
        ADS_DN_STRING DNString;
        ADS_CASE_EXACT_STRING CaseExactString;
        ADS_CASE_IGNORE_STRING CaseIgnoreString;
        ADS_PRINTABLE_STRING PrintableString;
        ADS_NUMERIC_STRING NumericString;
        ADS_BOOLEAN Boolean;
        ADS_INTEGER Integer;
        ADS_OCTET_STRING OctetString;
        ADS_UTC_TIME UTCTime;
        ADS_LARGE_INTEGER LargeInteger;
        ADS_OBJECT_CLASS ClassName;
        ADS_PROV_SPECIFIC ProviderSpecific;
        ADS_NT_SECURITY_DESCRIPTOR SecurityDescriptor;
        ADS_DN_WITH_BINARY* pDNWithBinary;
        ADS_DN_WITH_STRING* pDNWithString;
    };
};
using PADSVALUE = ADSVALUE*;
using LPADSVALUE = ADSVALUE*;

struct ADS_SEARCH_COLUMN {
    LPWSTR pszAttrName;
    ADSTYPE dwADsType;
    PADSVALUE pADsValues;
    DWORD dwNumValues;
    void* hReserved;
};
using PADS_SEARCH_COLUMN = ADS_SEARCH_COLUMN*;

enum ADS_SEARCHPREF_ENUM : DWORD {
    ADS_SEARCHPREF_ASYNCHRONOUS = 0,
    ADS_SEARCHPREF_DEREF_ALIASES = 1,
    ADS_SEARCHPREF_SIZE_LIMIT = 2,
    ADS_SEARCHPREF_TIME_LIMIT = 3,
    ADS_SEARCHPREF_ATTRIBTYPES_ONLY = 4,
    ADS_SEARCHPREF_SEARCH_SCOPE = 5,
    ADS_SEARCHPREF_TIMEOUT = 6,
    ADS_SEARCHPREF_PAGESIZE = 7,
    ADS_SEARCHPREF_PAGED_TIME_LIMIT = 8,
    ADS_SEARCHPREF_CHASE_REFERRALS = 9,
    ADS_SEARCHPREF_SORT_ON = 10,
    ADS_SEARCHPREF_CACHE_RESULTS = 11,
};
using ADS_SEARCHPREF = ADS_SEARCHPREF_ENUM;

enum ADS_STATUSENUM : DWORD {
    ADS_STATUS_S_OK = 0,
    ADS_STATUS_INVALID_SEARCHPREF = 1,
    ADS_STATUS_INVALID_SEARCHPREFVALUE = 2,
};

enum ADS_SCOPEENUM : DWORD {
    ADS_SCOPE_BASE = 0,
    ADS_SCOPE_ONELEVEL = 1,
    ADS_SCOPE_SUBTREE = 2,
};

struct ADS_SEARCHPREF_INFO {
    ADS_SEARCHPREF dwSearchPref;
    ADSVALUE vValue;
    ADS_STATUSENUM dwStatus;
};
using PADS_SEARCHPREF_INFO = ADS_SEARCHPREF_INFO*;

struct ADS_SEARCH_HANDLE__;
using ADS_SEARCH_HANDLE = ADS_SEARCH_HANDLE__*;
using PADS_SEARCH_HANDLE = ADS_SEARCH_HANDLE*;

enum ADS_AUTHENTICATION_ENUM : DWORD {
    ADS_SECURE_AUTHENTICATION = 0x1,
    ADS_USE_ENCRYPTION = 0x2,
    ADS_USE_SSL = 0x2,
    ADS_READONLY_SERVER = 0x4,
    ADS_NO_AUTHENTICATION = 0x10,
    ADS_FAST_BIND = 0x20,
    ADS_USE_SIGNING = 0x40,
    ADS_USE_SEALING = 0x80,
};

constexpr HRESULT S_ADS_NOMORE_ROWS = 0x00005012;
constexpr HRESULT S_ADS_NOMORE_COLUMNS = 0x00005013;
// SetSearchPreference: at least one preference was refused (see each record's dwStatus). A success
// code in ADSI's numbering, but not S_OK.
constexpr HRESULT S_ADS_ERRORSOCCURRED = 0x00005011;
constexpr HRESULT E_ADS_BAD_PATHNAME = static_cast<HRESULT>(0x80005000);
constexpr HRESULT E_ADS_INVALID_FILTER = static_cast<HRESULT>(0x80005014);
constexpr HRESULT E_ADS_COLUMN_NOT_SET = static_cast<HRESULT>(0x80005013);
constexpr HRESULT E_ADS_BAD_PARAMETER = static_cast<HRESULT>(0x80005008);

// {109BA8EC-92F0-11D0-A790-00C04FD8D5A8}
inline constexpr IID IID_IDirectorySearch = {0x109BA8EC, 0x92F0, 0x11D0, {0xA7, 0x90, 0x00, 0xC0, 0x4F, 0xD8, 0xD5, 0xA8}};

struct IDirectorySearch : IUnknown {
    virtual HRESULT SetSearchPreference(PADS_SEARCHPREF_INFO pSearchPrefs, DWORD dwNumPrefs) = 0;
    virtual HRESULT ExecuteSearch(LPWSTR pszSearchFilter, LPWSTR* pAttributeNames, DWORD dwNumberAttributes,
                                  PADS_SEARCH_HANDLE phSearchResult) = 0;
    virtual HRESULT AbandonSearch(ADS_SEARCH_HANDLE hSearchResult) = 0;
    virtual HRESULT GetFirstRow(ADS_SEARCH_HANDLE hSearchResult) = 0;
    virtual HRESULT GetNextRow(ADS_SEARCH_HANDLE hSearchResult) = 0;
    virtual HRESULT GetPreviousRow(ADS_SEARCH_HANDLE hSearchResult) = 0;
    virtual HRESULT GetNextColumnName(ADS_SEARCH_HANDLE hSearchHandle, LPWSTR* ppszColumnName) = 0;
    virtual HRESULT GetColumn(ADS_SEARCH_HANDLE hSearchResult, LPWSTR szColumnName,
                              PADS_SEARCH_COLUMN pSearchColumn) = 0;
    virtual HRESULT FreeColumn(PADS_SEARCH_COLUMN pSearchColumn) = 0;
    virtual HRESULT CloseSearchHandle(ADS_SEARCH_HANDLE hSearchResult) = 0;
};

// Binds to "LDAP://server[:port][/DN]" (without a DN the search base is the directory's default
// naming context) and returns its IDirectorySearch.
//   - user name and password both null: the logged-on user, through SASL GSSAPI with the user's own
//     Kerberos ticket cache;
//   - every Kerberos bind asks for a ticket for the host the path names (no reverse DNS); when that
//     host is a domain name, the bind goes to the controller that answered, by the name its root DSE
//     gives (dnsHostName), since only controllers have service principals;
//   - typed credentials: a password never crosses the network in clear. Where the server offers
//     GSSAPI/GSS-SPNEGO and the name names a realm ("user@REALM", "DOMAIN\user"), a Kerberos ticket
//     is got with the password into a private cache and the bind is GSSAPI; otherwise the connection
//     is made TLS (StartTLS, or ldaps for port 636 / ADS_USE_SSL) and the bind is a simple bind with
//     the name as typed. Without TLS the bind fails and the password is not sent. A name or password
//     left empty fails at once (an empty password would be an unauthenticated, anonymous bind).
// Certificates are checked by OpenLDAP's client rules (ldap.conf, LDAPTLS_* variables). Referrals are
// never chased. Failures: 0x8007052E bad credentials, 0x8007203A server down or TLS failure, others
// HRESULT_FROM_WIN32 of the directory error; the reason is kept for ADsGetLastError.
HRESULT ADsOpenObject(LPCWSTR lpszPathName, LPCWSTR lpszUserName, LPCWSTR lpszPassword, DWORD dwReserved,
                      REFIID riid, void** ppObject);

// The directory's own words for the last failure of a bind or a search on this thread: the error
// code in *lpError and the diagnostic text (empty when the directory gave none) in lpErrorBuf.
HRESULT ADsGetLastError(LPDWORD lpError, LPWSTR lpErrorBuf, DWORD dwErrorBufLen, LPWSTR lpNameBuf,
                        DWORD dwNameBufLen);

// ---- Network management ---------------------------------------------------------------------------

using NET_API_STATUS = DWORD;
constexpr NET_API_STATUS NERR_Success = 0;
constexpr NET_API_STATUS NERR_BASE = 2100;
constexpr NET_API_STATUS NERR_DCNotFound = NERR_BASE + 353; // 2453
constexpr NET_API_STATUS ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr NET_API_STATUS ERROR_INVALID_PARAMETER = 87;
constexpr NET_API_STATUS ERROR_NO_SUCH_DOMAIN = 1355;

enum NETSETUP_JOIN_STATUS : DWORD {
    NetSetupUnknownStatus = 0,
    NetSetupUnjoined = 1,
    NetSetupWorkgroupName = 2,
    NetSetupDomainName = 3,
};
using PNETSETUP_JOIN_STATUS = NETSETUP_JOIN_STATUS*;

NET_API_STATUS NetGetJoinInformation(LPCWSTR lpServer, LPWSTR* lpNameBuffer, PNETSETUP_JOIN_STATUS BufferType);
NET_API_STATUS NetGetDCName(LPCWSTR servername, LPCWSTR domainname, BYTE** bufptr);
NET_API_STATUS NetApiBufferFree(LPVOID Buffer);
