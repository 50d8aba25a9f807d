// The seventeen display labels the result list can show, and the directory attribute behind each.
#pragma once

#include "platform/cstring.h"

struct CatalogueEntry {
    const WCHAR* label;     // column heading, in capitals
    const WCHAR* attribute; // LDAP attribute, passed to the directory exactly as written
    bool basic;             // shown as a column when the window opens
};

// In the order of the column sets at start: the six basic labels, then the eleven extra ones.
extern const CatalogueEntry kAttributeCatalogue[17];

// The attribute read for a display label, compared without regard to letter case over the whole
// text; null for a text that is no catalogue label.
LPCWSTR LookupAttributeName(const CString& label);
