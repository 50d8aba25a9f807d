#include "platform/cstring.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

CString CString::FromUtf8(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    size_t i = 0;
    const size_t n = s.size();
    while (i < n) {
        const auto c = static_cast<unsigned char>(s[i]);
        char32_t cp = 0xFFFD;
        size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0 && i + 1 < n && (static_cast<unsigned char>(s[i + 1]) & 0xC0) == 0x80) {
            cp = ((c & 0x1F) << 6) | (static_cast<unsigned char>(s[i + 1]) & 0x3F);
            len = 2;
            if (cp < 0x80) cp = 0xFFFD;
        } else if ((c & 0xF0) == 0xE0 && i + 2 < n && (static_cast<unsigned char>(s[i + 1]) & 0xC0) == 0x80 &&
                   (static_cast<unsigned char>(s[i + 2]) & 0xC0) == 0x80) {
            cp = ((c & 0x0F) << 12) | ((static_cast<unsigned char>(s[i + 1]) & 0x3F) << 6) |
                 (static_cast<unsigned char>(s[i + 2]) & 0x3F);
            len = 3;
            if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
        } else if ((c & 0xF8) == 0xF0 && i + 3 < n && (static_cast<unsigned char>(s[i + 1]) & 0xC0) == 0x80 &&
                   (static_cast<unsigned char>(s[i + 2]) & 0xC0) == 0x80 &&
                   (static_cast<unsigned char>(s[i + 3]) & 0xC0) == 0x80) {
            cp = ((c & 0x07) << 18) | ((static_cast<unsigned char>(s[i + 1]) & 0x3F) << 12) |
                 ((static_cast<unsigned char>(s[i + 2]) & 0x3F) << 6) |
                 (static_cast<unsigned char>(s[i + 3]) & 0x3F);
            len = 4;
            if (cp < 0x10000 || cp > 0x10FFFF) cp = 0xFFFD;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
        i += len;
    }
    return CString(std::move(out));
}

std::string CString::ToUtf8() const {
    std::string out;
    out.reserve(m_str.size());
    const size_t n = m_str.size();
    for (size_t i = 0; i < n; ++i) {
        char32_t cp = m_str[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && m_str[i + 1] >= 0xDC00 && m_str[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (m_str[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD; // a lone surrogate has no UTF-8 form
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

WCHAR WideToUpper(WCHAR ch) {
    if (ch >= u'a' && ch <= u'z') return static_cast<WCHAR>(ch - 32);
    // Latin-1 supplement: à..þ except ÷
    if (ch >= 0xE0 && ch <= 0xFE && ch != 0xF7) return static_cast<WCHAR>(ch - 32);
    if (ch == 0xFF) return 0x178;
    if (ch == 0x17F) return u'S'; // long s
    // Latin Extended-A pairs (Ā/ā ...) where the upper case is the even code point.
    if (ch >= 0x100 && ch <= 0x17F && ch != 0x130 && ch != 0x131 && ch != 0x138 && ch != 0x149) {
        if ((ch >= 0x139 && ch <= 0x148) || (ch >= 0x179 && ch <= 0x17E)) return (ch % 2 == 0) ? ch - 1 : ch;
        return (ch % 2 == 1) ? static_cast<WCHAR>(ch - 1) : ch;
    }
    if (ch >= 0x3B1 && ch <= 0x3C9 && ch != 0x3C2) return static_cast<WCHAR>(ch - 32); // Greek
    if (ch >= 0x430 && ch <= 0x44F) return static_cast<WCHAR>(ch - 32);                // Cyrillic
    if (ch >= 0x450 && ch <= 0x45F) return static_cast<WCHAR>(ch - 80);
    return ch;
}

CString& CString::operator=(const WCHAR* psz) {
    if (psz)
        m_str.assign(psz);
    else
        m_str.clear();
    return *this;
}

int CString::Compare(const WCHAR* psz) const {
    return m_str.compare(psz ? psz : u"");
}

int CString::CompareNoCase(const WCHAR* psz) const {
    std::u16string_view other(psz ? psz : u"");
    const size_t n = std::min(m_str.size(), other.size());
    for (size_t i = 0; i < n; ++i) {
        const WCHAR a = WideToUpper(m_str[i]);
        const WCHAR b = WideToUpper(other[i]);
        if (a != b) return a < b ? -1 : 1;
    }
    if (m_str.size() == other.size()) return 0;
    return m_str.size() < other.size() ? -1 : 1;
}

int CString::Find(WCHAR ch, int nStart) const {
    if (nStart < 0 || nStart > GetLength()) return -1;
    const auto pos = m_str.find(ch, static_cast<size_t>(nStart));
    return pos == std::u16string::npos ? -1 : static_cast<int>(pos);
}

int CString::Find(const WCHAR* psz, int nStart) const {
    if (!psz || nStart < 0 || nStart > GetLength()) return -1;
    const auto pos = m_str.find(psz, static_cast<size_t>(nStart));
    return pos == std::u16string::npos ? -1 : static_cast<int>(pos);
}

int CString::ReverseFind(WCHAR ch) const {
    const auto pos = m_str.rfind(ch);
    return pos == std::u16string::npos ? -1 : static_cast<int>(pos);
}

int CString::Replace(const WCHAR* pszOld, const WCHAR* pszNew) {
    std::u16string_view from(pszOld ? pszOld : u"");
    std::u16string_view to(pszNew ? pszNew : u"");
    if (from.empty()) return 0;
    size_t pos = m_str.find(from);
    if (pos == std::u16string::npos) return 0;
    int count = 0;
    std::u16string out;
    out.reserve(m_str.size());
    size_t last = 0;
    while (pos != std::u16string::npos) {
        out.append(m_str, last, pos - last);
        out.append(to);
        last = pos + from.size();
        ++count;
        pos = m_str.find(from, last);
    }
    out.append(m_str, last, std::u16string::npos);
    m_str.swap(out);
    return count;
}

int CString::Replace(WCHAR chOld, WCHAR chNew) {
    int count = 0;
    for (auto& c : m_str) {
        if (c == chOld) {
            c = chNew;
            ++count;
        }
    }
    return count;
}

CString CString::Left(int n) const {
    return CString(m_str.substr(0, static_cast<size_t>(std::clamp(n, 0, GetLength()))));
}

CString CString::Mid(int nFirst) const {
    return Mid(nFirst, GetLength());
}

CString CString::Mid(int nFirst, int nCount) const {
    nFirst = std::clamp(nFirst, 0, GetLength());
    nCount = std::clamp(nCount, 0, GetLength() - nFirst);
    return CString(m_str.substr(static_cast<size_t>(nFirst), static_cast<size_t>(nCount)));
}

CString CString::Right(int n) const {
    n = std::clamp(n, 0, GetLength());
    return CString(m_str.substr(m_str.size() - static_cast<size_t>(n)));
}

CString& CString::MakeUpper() {
    for (auto& c : m_str)
        c = WideToUpper(c);
    return *this;
}

CString& CString::MakeLower() {
    for (auto& c : m_str)
        if (c >= u'A' && c <= u'Z') c = static_cast<WCHAR>(c + 32);
    return *this;
}

CString& CString::Trim() {
    auto isSpace = [](WCHAR c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; };
    size_t b = 0, e = m_str.size();
    while (b < e && isSpace(m_str[b]))
        ++b;
    while (e > b && isSpace(m_str[e - 1]))
        --e;
    m_str = m_str.substr(b, e - b);
    return *this;
}

WCHAR* CString::GetBuffer(int nMinLength) {
    if (nMinLength > GetLength()) m_str.resize(static_cast<size_t>(nMinLength));
    return m_str.data();
}

void CString::ReleaseBuffer(int nNewLength) {
    if (nNewLength < 0) {
        const auto pos = m_str.find(u'\0');
        if (pos != std::u16string::npos) m_str.resize(pos);
    } else {
        m_str.resize(static_cast<size_t>(std::min(nNewLength, GetLength())));
    }
}

namespace {

void AppendNarrow(std::u16string& out, const char* s) {
    while (*s)
        out += static_cast<char16_t>(static_cast<unsigned char>(*s++));
}

void FormatInto(std::u16string& out, const WCHAR* fmt, va_list ap) {
    if (!fmt) return;
    for (const WCHAR* p = fmt; *p; ++p) {
        if (*p != u'%') {
            out += *p;
            continue;
        }
        ++p;
        if (*p == u'%') {
            out += u'%';
            continue;
        }
        std::string spec = "%";
        while (*p == u'-' || *p == u'+' || *p == u' ' || *p == u'#' || *p == u'0')
            spec += static_cast<char>(*p++);
        int width = -1;
        if (*p == u'*') {
            width = va_arg(ap, int);
            ++p;
        } else {
            while (*p >= u'0' && *p <= u'9')
                spec += static_cast<char>(*p++);
        }
        int precision = -1;
        if (*p == u'.') {
            ++p;
            precision = 0;
            if (*p == u'*') {
                precision = va_arg(ap, int);
                ++p;
            } else {
                while (*p >= u'0' && *p <= u'9')
                    precision = precision * 10 + (*p++ - u'0');
            }
        }
        if (width >= 0) spec += std::to_string(width);
        // Length modifiers: h, l, ll, I64.
        int longness = 0;
        bool wideString = false;
        for (;;) {
            if (*p == u'l') {
                ++longness;
                wideString = true;
                ++p;
            } else if (*p == u'h') {
                ++p;
            } else if (p[0] == u'I' && p[1] == u'6' && p[2] == u'4') {
                longness = 2;
                p += 3;
            } else {
                break;
            }
        }
        (void)wideString;
        const WCHAR conv = *p;
        if (conv == 0) break;
        char buf[128];
        switch (conv) {
        case u'd':
        case u'i':
        case u'u':
        case u'x':
        case u'X': {
            std::string s = spec;
            if (precision >= 0) s += "." + std::to_string(precision);
            s += "ll";
            s += static_cast<char>(conv);
            long long v = 0;
            if (longness >= 2)
                v = va_arg(ap, long long);
            else if (longness == 1)
                v = va_arg(ap, long);
            else if (conv == u'd' || conv == u'i')
                v = va_arg(ap, int);
            else
                v = va_arg(ap, unsigned int);
            std::snprintf(buf, sizeof buf, s.c_str(), v);
            AppendNarrow(out, buf);
            break;
        }
        case u'c': {
            const auto ch = static_cast<WCHAR>(va_arg(ap, int));
            int pad = width > 1 ? width - 1 : 0;
            out.append(static_cast<size_t>(pad), u' ');
            out += ch;
            break;
        }
        case u's':
        case u'S': {
            const WCHAR* s = va_arg(ap, const WCHAR*);
            std::u16string_view v(s ? s : u"(null)");
            if (precision >= 0 && static_cast<size_t>(precision) < v.size())
                v = v.substr(0, static_cast<size_t>(precision));
            // Width comes from the digits collected in spec.
            int w = 0;
            bool left = false;
            for (char c : spec) {
                if (c == '-')
                    left = true;
                else if (c >= '0' && c <= '9')
                    w = w * 10 + (c - '0');
            }
            const size_t pad = w > static_cast<int>(v.size()) ? static_cast<size_t>(w) - v.size() : 0;
            if (!left) out.append(pad, u' ');
            out.append(v);
            if (left) out.append(pad, u' ');
            break;
        }
        case u'f':
        case u'g':
        case u'e': {
            std::string s = spec;
            if (precision >= 0) s += "." + std::to_string(precision);
            s += static_cast<char>(conv);
            std::snprintf(buf, sizeof buf, s.c_str(), va_arg(ap, double));
            AppendNarrow(out, buf);
            break;
        }
        default:
            out += u'%';
            out += conv;
            break;
        }
    }
}

} // namespace

void CString::Format(const WCHAR* pszFormat, ...) {
    std::u16string out;
    va_list ap;
    va_start(ap, pszFormat);
    FormatInto(out, pszFormat, ap);
    va_end(ap);
    m_str.swap(out);
}

void CString::AppendFormat(const WCHAR* pszFormat, ...) {
    va_list ap;
    va_start(ap, pszFormat);
    FormatInto(m_str, pszFormat, ap);
    va_end(ap);
}
