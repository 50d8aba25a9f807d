#include "directory/FormatAttributeValues.h"

#include "platform/wintime.h"

namespace {

// The braced GUID text that StringFromGUID2 writes: the first three groups are little-endian
// numbers, the last two are bytes in stored order.
CString GuidText(const BYTE* b) {
    CString text;
    text.Format(u"{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[3], b[2], b[1],
                b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return text;
}

// Joins the non-empty texts with the separator, so that an empty value leaves no stray separator.
void AppendItem(CString& result, const CString& item, const WCHAR* separator) {
    if (item.IsEmpty()) return;
    if (!result.IsEmpty()) result += separator;
    result += item;
}

CString StringList(const ADSVALUE* values, DWORD count) {
    // Every string type shares the one pointer member; a null pointer reads as empty text. Nearly
    // every cell holds one value: it is taken as it is, without an intermediate copy.
    if (count == 1) return CString(values[0].CaseIgnoreString);
    CString result;
    for (DWORD i = 0; i < count; ++i) {
        const WCHAR* item = values[i].CaseIgnoreString;
        if (!item || !*item) continue;
        if (!result.IsEmpty()) result += u";";
        result += item;
    }
    return result;
}

// Empty text when the time is impossible or leaves the representable range after the shift.
CString LocalTimeText(const SYSTEMTIME& utc) {
    SYSTEMTIME st = utc;
    FILETIME ft{};
    if (!SystemTimeToFileTime(&st, &ft) || !FileTimeToLocalFileTime(&ft, &ft) ||
        !FileTimeToSystemTime(&ft, &st))
        return CString();
    CString text;
    text.Format(u"%d/%d/%d  %d:%d:%d", st.wDay, st.wMonth, st.wYear, st.wHour, st.wMinute, st.wSecond);
    return text;
}

CString TimeList(const ADSVALUE* values, DWORD count) {
    CString result;
    for (DWORD i = 0; i < count; ++i)
        AppendItem(result, LocalTimeText(values[i].UTCTime), u"; ");
    return result;
}

} // namespace

CString FormatAttributeValues(const ADSVALUE* values, DWORD count) {
    // With no values nothing is read, not even the first entry's type: every type shows empty text
    // for an empty column.
    if (!values || count == 0) return CString();

    CString text;
    switch (values[0].dwType) {
    case ADSTYPE_DN_STRING:
    case ADSTYPE_CASE_EXACT_STRING:
    case ADSTYPE_CASE_IGNORE_STRING:
    case ADSTYPE_PRINTABLE_STRING:
    case ADSTYPE_NUMERIC_STRING:
    case ADSTYPE_OBJECT_CLASS:
        return StringList(values, count);
    case ADSTYPE_UTC_TIME:
        return TimeList(values, count);
    default:
        break;
    }

    // The rest show the first value only.
    const ADSVALUE& first = values[0];
    switch (first.dwType) {
    case ADSTYPE_BOOLEAN:
        text = first.Boolean ? u"TRUE" : u"FALSE";
        break;
    case ADSTYPE_INTEGER:
        text.Format(u"%d", static_cast<int>(static_cast<LONG>(first.Integer)));
        break;
    case ADSTYPE_OCTET_STRING:
        if (first.OctetString.lpValue && first.OctetString.dwLength >= 16)
            text = GuidText(first.OctetString.lpValue);
        break;
    case ADSTYPE_LARGE_INTEGER:
        text.Format(u"%lld", static_cast<long long>(first.LargeInteger.QuadPart));
        break;
    case ADSTYPE_PROV_SPECIFIC:
        text = u"(provider specific value) ";
        break;
    case ADSTYPE_NT_SECURITY_DESCRIPTOR:
        text.Format(u"%sIADsSecurityDescriptor", u"");
        break;
    default:
        // ADSTYPE_INVALID, the structured types 13 to 24 and 26 upwards are not shown.
        break;
    }
    return text;
}
