// How directory failures become ADSI results: LDAP result codes mapped to Win32 errors and
// HRESULTs the way ADSI reports them, and the per-thread record behind ADsGetLastError.
#pragma once

#include <string>
#include <string_view>

#include "platform/win32.h"

namespace brevonix::directory {

// Win32 errors ADSI reports for directory failures.
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_CANCELLED = 1223;
constexpr DWORD ERROR_LOGON_FAILURE = 1326;
constexpr DWORD ERROR_TIMEOUT = 1460;
constexpr DWORD ERROR_DS_SERVER_DOWN = 8250;
constexpr DWORD ERROR_DS_STRONG_AUTH_REQUIRED = 8232;
constexpr DWORD ERROR_DS_FILTER_UNKNOWN = 8254;

// The Win32 error for an LDAP result code (the protocol's codes and libldap's negative client codes).
DWORD Win32ErrorForLdapResult(int ldapResultCode);
inline HRESULT HResultForLdapResult(int ldapResultCode) {
    return HRESULT_FROM_WIN32(Win32ErrorForLdapResult(ldapResultCode));
}

// "<what>: <library's words for the code> (<code>)[: <directory's diagnostic>]". Never pass a
// password in any argument.
std::string DescribeLdapFailure(std::string_view what, int ldapResultCode, std::string_view diagnostic);

// The record ADsGetLastError reads, kept per thread like ADSI's.
void SetLastAdsError(DWORD error, std::string_view text);
void ClearLastAdsError();
DWORD LastAdsErrorCode();
std::string LastAdsErrorText();

} // namespace brevonix::directory
