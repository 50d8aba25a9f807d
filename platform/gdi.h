// Drawing: fonts, bitmaps, brushes and device contexts in the shape of GDI and its MFC wrappers.
//
// A device context is either a window's paint context (valid inside WM_PAINT), a window's client
// context (for measuring; drawing outside WM_PAINT is not possible on the window system we run on
// and is dropped), or a memory context holding a bitmap.
#pragma once

#include <map>
#include <memory>

#include "platform/cstring.h"
#include "platform/win32.h"

constexpr int LF_FACESIZE = 32;
constexpr LONG FW_NORMAL = 400;
constexpr LONG FW_BOLD = 700;

struct LOGFONTW {
    LONG lfHeight;
    LONG lfWidth;
    LONG lfEscapement;
    LONG lfOrientation;
    LONG lfWeight;
    BYTE lfItalic;
    BYTE lfUnderline;
    BYTE lfStrikeOut;
    BYTE lfCharSet;
    BYTE lfOutPrecision;
    BYTE lfClipPrecision;
    BYTE lfQuality;
    BYTE lfPitchAndFamily;
    WCHAR lfFaceName[LF_FACESIZE];
};
static_assert(sizeof(LOGFONTW) == 92, "LOGFONTW keeps its published size");
using LOGFONT = LOGFONTW;
using LPLOGFONTW = LOGFONTW*;

struct BITMAP {
    LONG bmType;
    LONG bmWidth;
    LONG bmHeight;
    LONG bmWidthBytes;
    WORD bmPlanes;
    WORD bmBitsPixel;
    LPVOID bmBits;
};

// GDI functions
HGDIOBJ GetStockObject(int i);
HFONT CreateFontIndirectW(const LOGFONTW* lplf);
int GetObjectW(HGDIOBJ h, int c, LPVOID pv);
BOOL DeleteObject(HGDIOBJ ho);
HGDIOBJ SelectObject(HDC hdc, HGDIOBJ h);
COLORREF SetTextColor(HDC hdc, COLORREF color);
COLORREF GetTextColor(HDC hdc);
COLORREF SetBkColor(HDC hdc, COLORREF color);
int SetBkMode(HDC hdc, int mode);
int GetBkMode(HDC hdc);
BOOL GetTextExtentPoint32W(HDC hdc, LPCWSTR lpString, int c, SIZE* psizl);
HDC CreateCompatibleDC(HDC hdc);
BOOL DeleteDC(HDC hdc);
BOOL BitBlt(HDC hdc, int x, int y, int cx, int cy, HDC hdcSrc, int x1, int y1, DWORD rop);
BOOL DrawIcon(HDC hDC, int X, int Y, HICON hIcon);
HBITMAP LoadBitmapW(HINSTANCE hInstance, LPCWSTR lpBitmapName);
HBRUSH CreateSolidBrush(COLORREF color);
DWORD GetSysColor(int nIndex);
HBRUSH GetSysColorBrush(int nIndex);
int FillRect(HDC hDC, const RECT* lprc, HBRUSH hbr);
HDC GetDC(HWND hWnd);
int ReleaseDC(HWND hWnd, HDC hDC);

struct PAINTSTRUCT {
    HDC hdc;
    BOOL fErase;
    RECT rcPaint;
    BOOL fRestore;
    BOOL fIncUpdate;
    BYTE rgbReserved[32];
};
HDC BeginPaint(HWND hWnd, PAINTSTRUCT* lpPaint);
BOOL EndPaint(HWND hWnd, const PAINTSTRUCT* lpPaint);

// MFC-shaped wrappers

class CGdiObject {
public:
    HGDIOBJ m_hObject = nullptr;
    CGdiObject() = default;
    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;
    virtual ~CGdiObject() { DeleteObject(); }
    operator HGDIOBJ() const { return m_hObject; }
    HGDIOBJ GetSafeHandle() const { return m_hObject; }
    BOOL Attach(HGDIOBJ h) {
        m_hObject = h;
        return h != nullptr;
    }
    HGDIOBJ Detach() {
        HGDIOBJ h = m_hObject;
        m_hObject = nullptr;
        return h;
    }
    BOOL DeleteObject() {
        if (!m_hObject) return FALSE;
        return ::DeleteObject(Detach());
    }
    int GetObject(int nCount, LPVOID lpObject) const { return ::GetObjectW(m_hObject, nCount, lpObject); }
};

class CFont : public CGdiObject {
public:
    BOOL CreateFontIndirect(const LOGFONTW* lpLogFont) { return Attach(::CreateFontIndirectW(lpLogFont)); }
    int GetLogFont(LOGFONTW* pLogFont) const { return GetObject(sizeof(LOGFONTW), pLogFont); }
    operator HFONT() const { return m_hObject; }
    // A wrapper that does not own the handle (MFC's temporary objects).
    static CFont* FromHandle(HFONT h);
};

class CBitmap : public CGdiObject {
public:
    BOOL LoadBitmap(UINT nIDResource);
    int GetBitmap(BITMAP* pBitMap) const { return GetObject(sizeof(BITMAP), pBitMap); }
    static CBitmap* FromHandle(HBITMAP h);
};

class CBrush : public CGdiObject {
public:
    BOOL CreateSolidBrush(COLORREF crColor) { return Attach(::CreateSolidBrush(crColor)); }
    static CBrush* FromHandle(HBRUSH h);
};

class CWnd;

class CDC {
public:
    HDC m_hDC = nullptr;
    CDC() = default;
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;
    virtual ~CDC();
    operator HDC() const { return m_hDC; }
    HDC GetSafeHdc() const { return m_hDC; }
    static CDC* FromHandle(HDC h);

    BOOL Attach(HDC h) {
        m_hDC = h;
        return h != nullptr;
    }
    HDC Detach() {
        HDC h = m_hDC;
        m_hDC = nullptr;
        return h;
    }
    BOOL CreateCompatibleDC(CDC* pDC) { return Attach(::CreateCompatibleDC(pDC ? pDC->m_hDC : nullptr)); }
    BOOL DeleteDC();

    CFont* SelectObject(CFont* pFont);
    CBitmap* SelectObject(CBitmap* pBitmap);
    HGDIOBJ SelectObject(HGDIOBJ h) { return ::SelectObject(m_hDC, h); }
    CGdiObject* SelectStockObject(int nIndex);
    COLORREF SetTextColor(COLORREF c) { return ::SetTextColor(m_hDC, c); }
    COLORREF SetBkColor(COLORREF c) { return ::SetBkColor(m_hDC, c); }
    int SetBkMode(int mode) { return ::SetBkMode(m_hDC, mode); }
    SIZE GetTextExtent(const CString& s) const;
    BOOL BitBlt(int x, int y, int w, int h, CDC* pSrcDC, int xSrc, int ySrc, DWORD rop) {
        return ::BitBlt(m_hDC, x, y, w, h, pSrcDC ? pSrcDC->m_hDC : nullptr, xSrc, ySrc, rop);
    }
    BOOL DrawIcon(int x, int y, HICON hIcon) { return ::DrawIcon(m_hDC, x, y, hIcon); }
    void FillSolidRect(const RECT* r, COLORREF c);
};

class CPaintDC : public CDC {
public:
    explicit CPaintDC(CWnd* pWnd);
    ~CPaintDC() override;
    PAINTSTRUCT m_ps{};

protected:
    HWND m_hWnd;
};

class CClientDC : public CDC {
public:
    explicit CClientDC(CWnd* pWnd);
    ~CClientDC() override;

protected:
    HWND m_hWnd;
};
