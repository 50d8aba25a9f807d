// The search preferences exactly as the tool's result list sets them, for the tests of either
// directory.
#pragma once

#include "directory/adsi.h"

namespace brevonix::test {

// The five preferences the tool's search sets, in its order: 120 s timeout, subtree, page size one
// hundred million, cached results, asynchronous.
inline HRESULT SetToolPreferences(IDirectorySearch* search, DWORD pageSize = 100000000,
                                  bool asynchronous = true) {
    ADS_SEARCHPREF_INFO prefs[5] = {};
    prefs[0].dwSearchPref = ADS_SEARCHPREF_TIMEOUT;
    prefs[0].vValue.dwType = ADSTYPE_INTEGER;
    prefs[0].vValue.Integer = 120;
    prefs[1].dwSearchPref = ADS_SEARCHPREF_SEARCH_SCOPE;
    prefs[1].vValue.dwType = ADSTYPE_INTEGER;
    prefs[1].vValue.Integer = ADS_SCOPE_SUBTREE;
    prefs[2].dwSearchPref = ADS_SEARCHPREF_PAGESIZE;
    prefs[2].vValue.dwType = ADSTYPE_INTEGER;
    prefs[2].vValue.Integer = pageSize;
    prefs[3].dwSearchPref = ADS_SEARCHPREF_CACHE_RESULTS;
    prefs[3].vValue.dwType = ADSTYPE_BOOLEAN;
    prefs[3].vValue.Boolean = TRUE;
    prefs[4].dwSearchPref = ADS_SEARCHPREF_ASYNCHRONOUS;
    prefs[4].vValue.dwType = ADSTYPE_BOOLEAN;
    prefs[4].vValue.Boolean = asynchronous ? TRUE : FALSE;
    return search->SetSearchPreference(prefs, 5);
}

} // namespace brevonix::test
