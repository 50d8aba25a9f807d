// One attribute's values, as a search column hands them over, turned into the text of one cell.
#pragma once

#include "directory/adsi.h"
#include "platform/cstring.h"

// The first value's type decides how every value is read. Strings are joined with ";", times are
// shown in local time as "d/m/yyyy  h:m:s" and joined with "; ", an octet string shows as a GUID,
// booleans, integers and large integers as words and numbers; types that are not shown give empty
// text. Never reads beyond `count` values nor beyond an octet string's length.
//
// Where the values leave a choice: an empty string among several values adds nothing (no bare
// ";"); a time that cannot be converted to local time adds nothing to a time list; an octet string
// shorter than 16 bytes, or one without bytes, gives empty text; a single-value type with a count
// of zero gives empty text.
CString FormatAttributeValues(const ADSVALUE* values, DWORD count);
