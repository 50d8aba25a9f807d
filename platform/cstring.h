// CString and CStringArray: UTF-16 text as the rest of the tool expects it.
//
// Lengths and positions count UTF-16 code units, never bytes or code points, because the CSV format
// and the list's 255-character limits are defined in code units.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/win32.h"

class CString {
public:
    CString() = default;
    CString(const WCHAR* psz) : m_str(psz ? psz : u"") {}
    CString(const WCHAR* pch, int nLength) : m_str(pch, pch + (nLength > 0 ? nLength : 0)) {}
    CString(WCHAR ch, int nRepeat = 1) : m_str(nRepeat > 0 ? nRepeat : 0, ch) {}
    CString(std::u16string s) : m_str(std::move(s)) {}
    CString(std::u16string_view s) : m_str(s) {}

    // Conversions at the edges of the tool (libraries, file names, the window system).
    static CString FromUtf8(std::string_view utf8);
    std::string ToUtf8() const;

    int GetLength() const { return static_cast<int>(m_str.size()); }
    bool IsEmpty() const { return m_str.empty(); }
    void Empty() { m_str.clear(); }
    WCHAR GetAt(int i) const { return m_str.at(static_cast<size_t>(i)); }
    WCHAR operator[](int i) const { return GetAt(i); }
    void SetAt(int i, WCHAR ch) { m_str.at(static_cast<size_t>(i)) = ch; }
    operator const WCHAR*() const { return m_str.c_str(); }
    const WCHAR* GetString() const { return m_str.c_str(); }
    const std::u16string& str() const { return m_str; }
    std::u16string& str() { return m_str; }

    // Out of line: inlined, GCC 12 at -O2 warns of an overlapping copy that cannot happen
    // (-Wrestrict), which -Werror turns into a failed optimised build.
    CString& operator=(const WCHAR* psz);
    CString& operator+=(const CString& s) {
        m_str += s.m_str;
        return *this;
    }
    CString& operator+=(const WCHAR* psz) {
        if (psz) m_str += psz;
        return *this;
    }
    CString& operator+=(WCHAR ch) {
        m_str += ch;
        return *this;
    }
    void Append(const WCHAR* pch, int n) { m_str.append(pch, static_cast<size_t>(n)); }

    friend CString operator+(const CString& a, const CString& b) { return CString(a.m_str + b.m_str); }
    friend CString operator+(const CString& a, const WCHAR* b) { return CString(a.m_str + (b ? b : u"")); }
    friend CString operator+(const WCHAR* a, const CString& b) { return CString((a ? a : u"") + b.m_str); }
    friend CString operator+(const CString& a, WCHAR b) { return CString(a.m_str + b); }
    friend bool operator==(const CString& a, const CString& b) { return a.m_str == b.m_str; }
    friend bool operator==(const CString& a, const WCHAR* b) { return a.m_str == (b ? b : u""); }
    friend bool operator<(const CString& a, const CString& b) { return a.m_str < b.m_str; }

    int Compare(const WCHAR* psz) const;
    // Case-insensitive comparison: the ordinal comparison of the upper-cased texts.
    int CompareNoCase(const WCHAR* psz) const;

    int Find(WCHAR ch, int nStart = 0) const;
    int Find(const WCHAR* psz, int nStart = 0) const;
    int ReverseFind(WCHAR ch) const;
    int Replace(const WCHAR* pszOld, const WCHAR* pszNew);
    int Replace(WCHAR chOld, WCHAR chNew);
    CString Left(int n) const;
    CString Mid(int nFirst) const;
    CString Mid(int nFirst, int nCount) const;
    CString Right(int n) const;
    CString& MakeUpper();
    CString& MakeLower();
    CString& Trim();

    // printf-style formatting with wide arguments: %d %i %u %x %X %c %s %ls %S %lld %I64d %%, with
    // flags, width and precision. %s takes a const WCHAR*.
    void Format(const WCHAR* pszFormat, ...);
    void AppendFormat(const WCHAR* pszFormat, ...);

    // Raw buffer access in the MFC manner: the buffer is sized to at least nMinLength code units
    // plus a terminator; ReleaseBuffer(-1) takes the length up to the first NUL.
    WCHAR* GetBuffer(int nMinLength);
    void ReleaseBuffer(int nNewLength = -1);

private:
    std::u16string m_str;
};

// Upper-casing the way the tool compares labels: simple case mapping of each code unit.
WCHAR WideToUpper(WCHAR ch);

class CStringArray {
public:
    int GetSize() const { return static_cast<int>(m_items.size()); }
    int GetCount() const { return GetSize(); }
    int GetUpperBound() const { return GetSize() - 1; }
    bool IsEmpty() const { return m_items.empty(); }
    void SetSize(int n) { m_items.resize(n > 0 ? static_cast<size_t>(n) : 0); }
    const CString& GetAt(int i) const { return m_items.at(static_cast<size_t>(i)); }
    CString& ElementAt(int i) { return m_items.at(static_cast<size_t>(i)); }
    void SetAt(int i, const CString& s) { m_items.at(static_cast<size_t>(i)) = s; }
    const CString& operator[](int i) const { return GetAt(i); }
    CString& operator[](int i) { return ElementAt(i); }
    int Add(const CString& s) {
        m_items.push_back(s);
        return GetSize() - 1;
    }
    void InsertAt(int i, const CString& s) { m_items.insert(m_items.begin() + i, s); }
    void RemoveAt(int i, int nCount = 1) { m_items.erase(m_items.begin() + i, m_items.begin() + i + nCount); }
    void RemoveAll() { m_items.clear(); }
    void Copy(const CStringArray& src) { m_items = src.m_items; }
    void Reserve(int n) { m_items.reserve(static_cast<size_t>(n)); }

    auto begin() const { return m_items.begin(); }
    auto end() const { return m_items.end(); }

private:
    std::vector<CString> m_items;
};
