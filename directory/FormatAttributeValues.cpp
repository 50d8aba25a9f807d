#include "directory/FormatAttributeValues.h"

#include "platform/wintime.h"

namespace {

// Sixteen bytes as the GUID they hold: the first three fields are stored little-endian, whatever
// this machine's byte order.
CString GuidText(const BYTE* b) {
    GUID guid{};
    guid.Data1 = static_cast<DWORD>(b[0]) | static_cast<DWORD>(b[1]) << 8 | static_cast<DWORD>(b[2]) << 16 |
                 static_cast<DWORD>(b[3]) << 24;
    guid.Data2 = static_cast<WORD>(b[4] | b[5] << 8);
    guid.Data3 = static_cast<WORD>(b[6] | b[7] << 8);
    for (int i = 0; i < 8; ++i)
        guid.Data4[i] = b[8 + i];
    WCHAR text[256] = {};
    StringFromGUID2(guid, text, 256);
    return CString(text);
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
