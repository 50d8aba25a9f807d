#include "directory/ads_errors.h"

#include <ldap.h>

#include <algorithm>

#include "directory/adsi.h"
#include "platform/cstring.h"

namespace brevonix::directory {

namespace {

struct LastError {
    DWORD code = 0;
    std::string text;
};

LastError& ThreadLastError() {
    thread_local LastError last;
    return last;
}

} // namespace

DWORD Win32ErrorForLdapResult(int rc) {
    switch (rc) {
    case LDAP_SUCCESS:
        return 0;
    case LDAP_OPERATIONS_ERROR:
        return 8224;
    case LDAP_PROTOCOL_ERROR:
        return 8225;
    case LDAP_TIMELIMIT_EXCEEDED:
        return 8226;
    case LDAP_SIZELIMIT_EXCEEDED:
        return 8227;
    case LDAP_ADMINLIMIT_EXCEEDED:
        return 8228;
    case LDAP_COMPARE_FALSE:
        return 8229;
    case LDAP_COMPARE_TRUE:
        return 8230;
    case LDAP_AUTH_METHOD_NOT_SUPPORTED:
        return 8231;
    case LDAP_STRONG_AUTH_REQUIRED:
        return ERROR_DS_STRONG_AUTH_REQUIRED;
    case LDAP_PARTIAL_RESULTS:
    case LDAP_REFERRAL:
        return 8235;
    case LDAP_UNAVAILABLE_CRITICAL_EXTENSION:
        return 8236;
    case LDAP_CONFIDENTIALITY_REQUIRED:
        return 8237;
    case LDAP_NO_SUCH_ATTRIBUTE:
        return 8202;
    case LDAP_UNDEFINED_TYPE:
        return 8204;
    case LDAP_INAPPROPRIATE_MATCHING:
        return 8238;
    case LDAP_CONSTRAINT_VIOLATION:
        return 8239;
    case LDAP_TYPE_OR_VALUE_EXISTS:
        return 8205;
    case LDAP_INVALID_SYNTAX:
        return 8203;
    case LDAP_NO_SUCH_OBJECT:
        return 8240;
    case LDAP_ALIAS_PROBLEM:
        return 8241;
    case LDAP_INVALID_DN_SYNTAX:
        return 8242;
    case LDAP_IS_LEAF:
        return 8243;
    case LDAP_ALIAS_DEREF_PROBLEM:
        return 8244;
    case LDAP_INAPPROPRIATE_AUTH:
        return 8233;
    case LDAP_INVALID_CREDENTIALS:
        return ERROR_LOGON_FAILURE;
    case LDAP_INSUFFICIENT_ACCESS:
        return ERROR_ACCESS_DENIED;
    case LDAP_BUSY:
        return 8206;
    case LDAP_UNAVAILABLE:
        return 8207;
    case LDAP_UNWILLING_TO_PERFORM:
        return 8245;
    case LDAP_LOOP_DETECT:
        return 8246;
    case LDAP_NAMING_VIOLATION:
        return 8247;
    case LDAP_OBJECT_CLASS_VIOLATION:
        return 8212;
    case LDAP_NOT_ALLOWED_ON_NONLEAF:
        return 8213;
    case LDAP_NOT_ALLOWED_ON_RDN:
        return 8214;
    case LDAP_ALREADY_EXISTS:
        return 5010; // ERROR_OBJECT_ALREADY_EXISTS
    case LDAP_NO_OBJECT_CLASS_MODS:
        return 8215;
    case LDAP_AFFECTS_MULTIPLE_DSAS:
        return 8249;
    case LDAP_OTHER:
        return 8224;
    // libldap's own (client side) codes
    case LDAP_SERVER_DOWN:
    case LDAP_CONNECT_ERROR:
        return ERROR_DS_SERVER_DOWN;
    case LDAP_LOCAL_ERROR:
        return 8251;
    case LDAP_ENCODING_ERROR:
        return 8252;
    case LDAP_DECODING_ERROR:
        return 8253;
    case LDAP_TIMEOUT:
        return ERROR_TIMEOUT;
    case LDAP_AUTH_UNKNOWN:
        return 8234;
    case LDAP_FILTER_ERROR:
        return ERROR_DS_FILTER_UNKNOWN;
    case LDAP_USER_CANCELLED:
        return ERROR_CANCELLED;
    case LDAP_PARAM_ERROR:
        return 8255;
    case LDAP_NO_MEMORY:
        return ::ERROR_NOT_ENOUGH_MEMORY;
    case LDAP_NOT_SUPPORTED:
        return 8256;
    case LDAP_CONTROL_NOT_FOUND:
        return 8258;
    case LDAP_NO_RESULTS_RETURNED:
        return 8257;
    case LDAP_CLIENT_LOOP:
        return 8259;
    case LDAP_REFERRAL_LIMIT_EXCEEDED:
        return 8260;
    default:
        return 8224; // ERROR_DS_OPERATIONS_ERROR: the directory failed in a way ADSI has no word for
    }
}

std::string DescribeLdapFailure(std::string_view what, int rc, std::string_view diagnostic) {
    std::string text(what);
    text += ": ";
    const char* words = ldap_err2string(rc);
    text += words ? words : "Unknown error";
    text += " (" + std::to_string(rc) + ")";
    if (!diagnostic.empty()) {
        text += ": ";
        text += diagnostic;
    }
    return text;
}

void SetLastAdsError(DWORD error, std::string_view text) {
    ThreadLastError().code = error;
    ThreadLastError().text.assign(text);
}

void ClearLastAdsError() {
    SetLastAdsError(0, {});
}

DWORD LastAdsErrorCode() {
    return ThreadLastError().code;
}

std::string LastAdsErrorText() {
    return ThreadLastError().text;
}

} // namespace brevonix::directory

namespace {

void CopyTruncated(const std::u16string& text, LPWSTR buffer, DWORD length) {
    if (!buffer || length == 0) return;
    const size_t n = std::min<size_t>(text.size(), length - 1);
    std::copy_n(text.begin(), n, buffer);
    buffer[n] = u'\0';
}

} // namespace

HRESULT ADsGetLastError(LPDWORD lpError, LPWSTR lpErrorBuf, DWORD dwErrorBufLen, LPWSTR lpNameBuf,
                        DWORD dwNameBufLen) {
    if (lpError) *lpError = brevonix::directory::LastAdsErrorCode();
    CopyTruncated(CString::FromUtf8(brevonix::directory::LastAdsErrorText()).str(), lpErrorBuf,
                  dwErrorBufLen);
    CopyTruncated(u"LDAP Provider", lpNameBuf, dwNameBufLen);
    return S_OK;
}
