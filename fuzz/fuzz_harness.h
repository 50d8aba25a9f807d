// What the fuzz targets do with one input, shared with the unit test that replays the seed corpus
// in the ordinary builds. Every place where bytes from a directory server become our values is
// driven from here: an entry's attributes read in place from the server's message, raw attribute
// values by syntax into ADSVALUEs, those values into cell text, and
// arbitrary UTF-16 cells into the CSV file.
//
// A failed check calls Fail(), which aborts: under libFuzzer that is a crash with the input saved,
// in the unit test a death with the file's name printed first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "directory/FormatAttributeValues.h"
#include "directory/ber_elements.h"
#include "directory/directory_schema.h"
#include "directory/value_conversion.h"
#include "export/MakeCsvFile.h"
#include "platform/cstring.h"

namespace brevonix::fuzz {

// The name of the input being run, when the caller knows it (the corpus replay does).
inline const char*& CurrentInputName() {
    static const char* name = nullptr;
    return name;
}

[[noreturn]] inline void Fail(const char* what) {
    std::fprintf(stderr, "fuzz check failed: %s%s%s\n", what, CurrentInputName() ? " on input " : "",
                 CurrentInputName() ? CurrentInputName() : "");
    std::abort();
}

#define BREVONIX_FUZZ_CHECK(cond)                                                                            \
    do {                                                                                                     \
        if (!(cond)) ::brevonix::fuzz::Fail(#cond);                                                          \
    } while (0)

// ---- An entry's attributes, read in place --------------------------------------------------------
//
// Input: the contents of an entry's attribute list as a server might send it (attributes, each a
// SEQUENCE of the type and the SET of values), read the way the search reads a row. Every element
// taken must lie inside what it was taken from, consume its own header and contents exactly, and a
// refused one must leave the input untouched.

inline bool Inside(std::string_view part, std::string_view whole) {
    return part.data() >= whole.data() && part.size() <= whole.size() &&
           static_cast<size_t>(part.data() - whole.data()) <= whole.size() - part.size();
}

inline bool TakeChecked(std::string_view& in, unsigned char& tag, std::string_view& contents) {
    const std::string_view before = in;
    contents = {};
    if (!directory::TakeElement(in, tag, contents)) {
        BREVONIX_FUZZ_CHECK(in.data() == before.data() && in.size() == before.size());
        return false;
    }
    BREVONIX_FUZZ_CHECK(Inside(contents, before) && Inside(in, before));
    BREVONIX_FUZZ_CHECK(in.data() == contents.data() + contents.size());
    const size_t header = static_cast<size_t>(contents.data() - before.data());
    BREVONIX_FUZZ_CHECK(header >= 2 && header <= 2 + sizeof(size_t));
    BREVONIX_FUZZ_CHECK(static_cast<unsigned char>(before[0]) == tag);
    BREVONIX_FUZZ_CHECK(before.size() - in.size() == header + contents.size());
    return true;
}

inline void RunBerAttributes(const uint8_t* data, size_t size) {
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    std::string_view list = all;
    unsigned char tag = 0;
    std::string_view attribute;
    while (TakeChecked(list, tag, attribute) && tag == directory::kBerSequence) {
        std::string_view type, values;
        if (!directory::SplitAttribute(attribute, type, values)) break;
        BREVONIX_FUZZ_CHECK(Inside(type, attribute) && Inside(values, attribute));
        BREVONIX_FUZZ_CHECK(type.data() + type.size() <= values.data());
        std::string_view value;
        size_t count = 0;
        while (TakeChecked(values, tag, value))
            ++count;
        // Each value takes at least its two header bytes.
        BREVONIX_FUZZ_CHECK(count <= attribute.size() / 2);
    }
}

// ---- Attribute values ---------------------------------------------------------------------------
//
// Input: the attribute's SYNTAX as text on the first line (an OID, possibly with a length bound or
// junk: the schema comes from the server too), then the values, separated by the byte 0x1E. Values
// may hold anything else, NUL bytes included.

struct AttributeInput {
    std::string_view syntaxOid;
    std::vector<std::string_view> values;
};

inline AttributeInput SplitAttributeInput(const uint8_t* data, size_t size) {
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    AttributeInput in;
    const size_t eol = all.find('\n');
    in.syntaxOid = all.substr(0, eol);
    if (eol == std::string_view::npos) return in;
    std::string_view rest = all.substr(eol + 1);
    for (;;) {
        const size_t sep = rest.find('\x1e');
        in.values.push_back(rest.substr(0, sep));
        if (sep == std::string_view::npos) break;
        rest = rest.substr(sep + 1);
    }
    return in;
}

// Whatever a string value points at must be a terminated UTF-16 string that can be read to its end.
inline size_t WalkString(LPCWSTR s) {
    size_t n = 0;
    if (s)
        while (s[n])
            ++n;
    return n;
}

// Reads every byte the value claims to have, so that the sanitizers see a lie about a length.
inline void TouchValue(const ADSVALUE& v) {
    volatile unsigned sink = 0;
    auto touch = [&](const BYTE* p, DWORD n) {
        BREVONIX_FUZZ_CHECK(n == 0 || p);
        for (DWORD i = 0; i < n; ++i)
            sink = sink + p[i];
    };
    switch (v.dwType) {
    case ADSTYPE_DN_STRING:
    case ADSTYPE_CASE_EXACT_STRING:
    case ADSTYPE_CASE_IGNORE_STRING:
    case ADSTYPE_PRINTABLE_STRING:
    case ADSTYPE_NUMERIC_STRING:
    case ADSTYPE_OBJECT_CLASS:
        BREVONIX_FUZZ_CHECK(v.CaseIgnoreString != nullptr);
        sink = sink + static_cast<unsigned>(WalkString(v.CaseIgnoreString));
        break;
    case ADSTYPE_OCTET_STRING:
        touch(v.OctetString.lpValue, v.OctetString.dwLength);
        break;
    case ADSTYPE_NT_SECURITY_DESCRIPTOR:
        touch(v.SecurityDescriptor.lpValue, v.SecurityDescriptor.dwLength);
        break;
    case ADSTYPE_PROV_SPECIFIC:
        touch(v.ProviderSpecific.lpValue, v.ProviderSpecific.dwLength);
        break;
    case ADSTYPE_DN_WITH_BINARY:
        BREVONIX_FUZZ_CHECK(v.pDNWithBinary != nullptr);
        touch(v.pDNWithBinary->lpBinaryValue, v.pDNWithBinary->dwLength);
        sink = sink + static_cast<unsigned>(WalkString(v.pDNWithBinary->pszDNString));
        break;
    case ADSTYPE_DN_WITH_STRING:
        BREVONIX_FUZZ_CHECK(v.pDNWithString != nullptr);
        sink = sink + static_cast<unsigned>(WalkString(v.pDNWithString->pszStringValue));
        sink = sink + static_cast<unsigned>(WalkString(v.pDNWithString->pszDNString));
        break;
    case ADSTYPE_UTC_TIME:
        BREVONIX_FUZZ_CHECK(v.UTCTime.wMonth >= 1 && v.UTCTime.wMonth <= 12);
        BREVONIX_FUZZ_CHECK(v.UTCTime.wDay >= 1 && v.UTCTime.wDay <= 31);
        BREVONIX_FUZZ_CHECK(v.UTCTime.wHour < 24 && v.UTCTime.wMinute < 60 && v.UTCTime.wSecond < 60);
        BREVONIX_FUZZ_CHECK(v.UTCTime.wMilliseconds < 1000 && v.UTCTime.wDayOfWeek < 7);
        break;
    default:
        break;
    }
}

// One column as the search hands it out: converted, checked for one type throughout, and every
// value read to its end. Returns the values' type. The store keeps the values alive.
inline ADSTYPE ConvertColumn(const AttributeInput& in, directory::AdsValueStore& store,
                             std::vector<ADSVALUE>& values) {
    const directory::ValueSyntax syntax = directory::SyntaxFromOid(in.syntaxOid);
    const ADSTYPE type = directory::ConvertAdsValues(in.values, syntax, store, values);
    BREVONIX_FUZZ_CHECK(values.size() == in.values.size());
    // Either every value has the syntax's type, or the whole column fell back to text.
    BREVONIX_FUZZ_CHECK(type == syntax.type || type == ADSTYPE_CASE_IGNORE_STRING);
    for (size_t i = 0; i < values.size(); ++i) {
        BREVONIX_FUZZ_CHECK(values[i].dwType == type);
        TouchValue(values[i]);
    }
    if (type == ADSTYPE_CASE_IGNORE_STRING) {
        // Text is never lost: a value shows as text up to its first NUL (the string ends there, as
        // a C string does); a value that starts with anything else is never empty text.
        for (size_t i = 0; i < values.size(); ++i)
            BREVONIX_FUZZ_CHECK((WalkString(values[i].CaseIgnoreString) == 0) ==
                                (in.values[i].empty() || in.values[i][0] == '\0'));
    }
    return type;
}

inline void RunValueConversion(const uint8_t* data, size_t size) {
    const AttributeInput in = SplitAttributeInput(data, size);
    directory::AdsValueStore store;
    std::vector<ADSVALUE> values;
    ConvertColumn(in, store, values);
    // Each value alone as well, the way a single-valued attribute arrives.
    for (std::string_view raw : in.values) {
        ADSVALUE one{};
        if (directory::ConvertAdsValue(raw, directory::SyntaxFromOid(in.syntaxOid), store, one))
            TouchValue(one);
        else
            BREVONIX_FUZZ_CHECK(one.dwType == ADSTYPE_INVALID);
    }
}

inline void RunFormat(const uint8_t* data, size_t size) {
    const AttributeInput in = SplitAttributeInput(data, size);
    directory::AdsValueStore store;
    std::vector<ADSVALUE> values;
    const ADSTYPE type = ConvertColumn(in, store, values);
    const auto count = static_cast<DWORD>(values.size());
    const CString all = FormatAttributeValues(values.empty() ? nullptr : values.data(), count);
    const CString first = FormatAttributeValues(values.empty() ? nullptr : values.data(), count ? 1 : 0);
    // The cell text is a real string whose length is what it says.
    BREVONIX_FUZZ_CHECK(WalkString(all.GetString()) <= static_cast<size_t>(all.GetLength()));
    // Lists grow with their values; everything else shows the first value only.
    const bool list = type == ADSTYPE_UTC_TIME ||
                      (type >= ADSTYPE_DN_STRING && type <= ADSTYPE_NUMERIC_STRING) ||
                      type == ADSTYPE_OBJECT_CLASS;
    if (!list) BREVONIX_FUZZ_CHECK(all == first);
    if (list && count > 0) BREVONIX_FUZZ_CHECK(all.GetLength() >= first.GetLength());
    // What the search loop does to the text next must not trip over it either.
    CString cell = all;
    cell.Replace(u"\r\n", u", ");
    cell.Replace(u",", u" ");
    BREVONIX_FUZZ_CHECK(cell.Find(u',') < 0);
}

// ---- Schema ---------------------------------------------------------------------------------------
//
// Input: the `attributeTypes` values of a subschema entry, one per line, as a server publishes them
// (SUP chains, loops, names given twice, junk). Then every name and OID found is looked up, with
// and without options, and a value converted by the syntax it resolved to.

inline void RunSchema(const uint8_t* data, size_t size) {
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> descriptions;
    for (size_t start = 0; start <= all.size();) {
        const size_t eol = all.find('\n', start);
        descriptions.emplace_back(
            all.substr(start, eol == std::string_view::npos ? std::string_view::npos : eol - start));
        if (eol == std::string_view::npos) break;
        start = eol + 1;
    }
    const directory::DirectorySchema schema = directory::DirectorySchema::FromAttributeTypes(descriptions);
    BREVONIX_FUZZ_CHECK(schema.Size() <= descriptions.size());
    // Names as a search would ask for them: every word of the input that looks like one.
    directory::AdsValueStore store;
    for (const std::string& d : descriptions) {
        for (size_t i = 0; i < d.size();) {
            const size_t end = d.find_first_of(" ()'$", i);
            const std::string word = d.substr(i, end == std::string::npos ? std::string::npos : end - i);
            i = end == std::string::npos ? d.size() : end + 1;
            if (word.empty()) continue;
            for (const std::string& name : {word, word + ";binary", word + ";range=0-1499"}) {
                const int id = schema.TypeId(name);
                BREVONIX_FUZZ_CHECK(id >= -1 && id < static_cast<int>(schema.Size()));
                ADSVALUE v{};
                if (directory::ConvertAdsValue(d, schema.Syntax(id), store, v)) TouchValue(v);
            }
        }
    }
}

// ---- CSV writer -----------------------------------------------------------------------------------
//
// Input: the first byte is the column count handed to WriteRow (as a signed byte: negative counts
// happen too); the rest is UTF-16 (little-endian pairs). The code unit U+001E ends a row, U+001F
// ends a cell; every other unit, line feeds, commas and surrogates included, is cell text. The
// first row is the headings.

// The bytes the file must hold for a text the writer was given: one byte per unit up to U+00FF,
// a line feed as CR LF. `ok` turns false at the first unit without a byte, where the text stops.
inline void ExpectedBytes(const std::u16string& text, std::string& out, bool& ok) {
    for (char16_t ch : text) {
        if (!ok) return;
        if (ch > 0xFF) {
            ok = false;
            return;
        }
        if (ch == u'\n') out += '\r';
        out += static_cast<char>(ch);
    }
}

inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Writes the input through the real writer into `path` and checks the file byte for byte against
// what the format says, including where it stops after a character without a byte.
inline void RunCsvWriter(const uint8_t* data, size_t size, const std::string& path) {
    if (size == 0) return;
    const int columnCount = static_cast<int8_t>(data[0]);
    std::vector<std::vector<std::u16string>> rows(1);
    rows.back().emplace_back();
    for (size_t i = 1; i + 1 < size; i += 2) {
        const auto unit = static_cast<char16_t>(data[i] | data[i + 1] << 8);
        if (unit == 0x1E) {
            rows.emplace_back();
            rows.back().emplace_back();
        } else if (unit == 0x1F) {
            rows.back().emplace_back();
        } else if (unit == 0) {
            // A cell is a terminated string: a NUL cannot be inside one.
            rows.back().back() += u'?';
        } else {
            rows.back().back() += unit;
        }
    }

    auto toArray = [](const std::vector<std::u16string>& cells) {
        CStringArray a;
        for (const auto& c : cells)
            a.Add(CString(c));
        return a;
    };

    std::string expected;
    bool ok = true;
    ExpectedBytes(u"SOFTWARE    :Talmore\nCreation Date\\Time   :07/03/2024 14:05:09\n", expected, ok);
    CMakeCsvFile csv;
    BREVONIX_FUZZ_CHECK(csv.CreateCsvFile(CString::FromUtf8(path)));
    BREVONIX_FUZZ_CHECK(csv.WriteFileHeader(u"Talmore", u"07/03/2024 14:05:09"));

    const auto& headings = rows.front();
    const BOOL headingsOk = csv.WriteColumnHeadings(toArray(headings));
    for (size_t i = 0; i < headings.size(); ++i)
        ExpectedBytes(headings[i] + (i + 1 == headings.size() ? u"\n" : u","), expected, ok);
    BREVONIX_FUZZ_CHECK(headingsOk == (ok ? TRUE : FALSE));

    for (size_t r = 1; ok && r < rows.size(); ++r) {
        const auto& cells = rows[r];
        const BOOL rowOk = csv.WriteRow(toArray(cells), columnCount);
        for (int i = 0; ok && i < columnCount; ++i) {
            if (static_cast<size_t>(i) >= cells.size()) {
                ok = false; // a missing cell fails the row
                break;
            }
            ExpectedBytes(cells[static_cast<size_t>(i)] + (i == columnCount - 1 ? u"\n" : u","), expected,
                          ok);
        }
        BREVONIX_FUZZ_CHECK(rowOk == (ok ? TRUE : FALSE));
    }
    BREVONIX_FUZZ_CHECK(csv.CloseCsvFile());
    BREVONIX_FUZZ_CHECK(csv.GetErrorMessage().IsEmpty() == ok);
    if (!ok) BREVONIX_FUZZ_CHECK(csv.GetErrorMessage() == CString(u"Unable to write to .csv file"));
    BREVONIX_FUZZ_CHECK(ReadWholeFile(path) == expected);
}

} // namespace brevonix::fuzz
