// lsdir: lists the users of a directory through the ADSI stand-in, calling it exactly as the tool's
// Generate command does (ADsOpenObject, the five search preferences, ExecuteSearch for "*",
// GetFirstRow/GetNextRow, GetColumn and FreeColumn for each catalogue attribute, CloseSearchHandle,
// Release), and prints one line per object: the seventeen catalogue columns, tab-separated, each
// cell rendered and cleaned as the result list shows it.
//
//   lsdir LDAP://127.0.0.1:38211 [--user NAME --password-env VAR] [--filter FILTER] [--count-only]
//
// Without --user the bind is as the logged-on user (Kerberos ticket cache). The password is read from
// the named environment variable so that it does not show in the process list.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "directory/FormatAttributeValues.h"
#include "directory/adsi.h"
#include "directory/cell_text.h"
#include "platform/cstring.h"

namespace {

struct CatalogueColumn {
    const char* label;
    const char16_t* attribute;
};

const CatalogueColumn kColumns[] = {
    {"NAME", u"cn"},
    {"FIRST NAME", u"givenName"},
    {"INITIAL", u"initials"},
    {"LAST NAME", u"sn"},
    {"DISPLAY NAME", u"displayName"},
    {"DESCRIPTION", u"description"},
    {"OFFICE", u"physicalDeliveryOfficeName"},
    {"TELEPHONE NUMBER", u"telephoneNumber"},
    {"E-MAIL ID", u"mail"},
    {"WEB SITE ADDRESS", u"url"},
    {"ADDRESS", u"streetAddress"},
    {"POST BOX NUMBER", u"postOfficeBox"},
    {"CITY", u"l"},
    {"STATE\\PROVINCE", u"st"},
    {"ZIP CODE", u"postalCode"},
    {"COUNTRY", u"co"},
    {"LOGON NAME", u"userPrincipalName"},
};

std::string LastError(HRESULT hr) {
    DWORD code = 0;
    WCHAR text[2048] = {};
    WCHAR provider[64] = {};
    ADsGetLastError(&code, text, 2048, provider, 64);
    char head[64];
    std::snprintf(head, sizeof head, "0x%08X (error %u)", static_cast<unsigned>(hr),
                  static_cast<unsigned>(code));
    return std::string(head) + ": " + CString(text).ToUtf8();
}

int Usage() {
    std::fprintf(stderr, "usage: lsdir LDAP://server[:port][/DN] [--user NAME --password-env VAR] "
                         "[--filter FILTER] [--count-only]\n");
    return 64;
}

ADS_SEARCHPREF_INFO Pref(ADS_SEARCHPREF pref, ADSTYPE type, DWORD value) {
    ADS_SEARCHPREF_INFO info{};
    info.dwSearchPref = pref;
    info.vValue.dwType = type;
    if (type == ADSTYPE_BOOLEAN)
        info.vValue.Boolean = value;
    else
        info.vValue.Integer = value;
    return info;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    CString path = CString::FromUtf8(argv[1]);
    CString user, password, filter(u"(&(objectClass=user)(objectCategory=user))");
    bool typed = false, countOnly = false;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--user" && i + 1 < argc) {
            user = CString::FromUtf8(argv[++i]);
            typed = true;
        } else if (arg == "--password-env" && i + 1 < argc) {
            const char* value = std::getenv(argv[++i]);
            password = CString::FromUtf8(value ? value : "");
            typed = true;
        } else if (arg == "--filter" && i + 1 < argc) {
            filter = CString::FromUtf8(argv[++i]);
        } else if (arg == "--count-only") {
            countOnly = true;
        } else {
            return Usage();
        }
    }

    CoInitialize(nullptr);
    IDirectorySearch* search = nullptr;
    HRESULT hr =
        ADsOpenObject(path, typed ? user.GetString() : nullptr, typed ? password.GetString() : nullptr,
                      ADS_SECURE_AUTHENTICATION, IID_IDirectorySearch, reinterpret_cast<void**>(&search));
    if (typed) std::memset(password.str().data(), 0, password.str().size() * sizeof(WCHAR));
    if (hr != S_OK) {
        std::fprintf(stderr, "lsdir: bind failed: %s\n", LastError(hr).c_str());
        return 1;
    }

    ADS_SEARCHPREF_INFO prefs[5] = {
        Pref(ADS_SEARCHPREF_TIMEOUT, ADSTYPE_INTEGER, 120),
        Pref(ADS_SEARCHPREF_SEARCH_SCOPE, ADSTYPE_INTEGER, ADS_SCOPE_SUBTREE),
        Pref(ADS_SEARCHPREF_PAGESIZE, ADSTYPE_INTEGER, 100000000),
        Pref(ADS_SEARCHPREF_CACHE_RESULTS, ADSTYPE_BOOLEAN, TRUE),
        Pref(ADS_SEARCHPREF_ASYNCHRONOUS, ADSTYPE_BOOLEAN, TRUE),
    };
    int status = 0;
    ADS_SEARCH_HANDLE handle = nullptr;
    WCHAR star[] = u"*";
    LPWSTR attributes[] = {star};
    if ((hr = search->SetSearchPreference(prefs, 5)) != S_OK) {
        std::fprintf(stderr, "lsdir: search preferences refused: 0x%08X\n", static_cast<unsigned>(hr));
        status = 2;
    } else if ((hr = search->ExecuteSearch(filter.str().data(), attributes, 1, &handle)) != S_OK) {
        std::fprintf(stderr, "lsdir: search failed: %s\n", LastError(hr).c_str());
        status = 2;
    } else {
        if (!countOnly) {
            for (size_t j = 0; j < std::size(kColumns); ++j)
                std::printf("%s%s", j ? "\t" : "", kColumns[j].label);
            std::printf("\n");
        }
        long objects = 0;
        hr = search->GetFirstRow(handle);
        while (hr == S_OK) {
            ++objects;
            std::string line;
            for (size_t j = 0; j < std::size(kColumns) && !countOnly; ++j) {
                CString text;
                ADS_SEARCH_COLUMN column;
                std::u16string name = kColumns[j].attribute;
                if (search->GetColumn(handle, name.data(), &column) == S_OK) {
                    text = FormatAttributeValues(column.pADsValues, column.dwNumValues);
                    RemoveLineBreaksAndCommas(text);
                    search->FreeColumn(&column);
                }
                if (text.IsEmpty()) text = u"-";
                if (j) line += '\t';
                line += text.ToUtf8();
            }
            if (!countOnly) std::printf("%s\n", line.c_str());
            hr = search->GetNextRow(handle);
        }
        std::fflush(stdout);
        if (hr != S_ADS_NOMORE_ROWS) {
            std::fprintf(stderr, "lsdir: listing ended by an error after %ld objects: %s\n", objects,
                         LastError(hr).c_str());
            status = 3;
        }
        std::fprintf(stderr, "objects: %ld\n", objects);
        search->CloseSearchHandle(handle);
    }
    search->Release();
    return status;
}
