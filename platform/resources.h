// The application's resources as data: dialog templates, strings, icons and bitmaps.
//
// Templates keep the shape of Windows dialog templates: rectangles in dialog units, styles and
// extended styles as numbers, items in template (= tab) order.
#pragma once

#include <cstddef>

#include "platform/win32.h"

struct AFX_DLGITEM {
    int nID;                // control ID (-1 for none)
    const WCHAR* lpszClass; // "BUTTON", "EDIT", "STATIC", "LISTBOX", "SysListView32"
    const WCHAR* lpszText;  // window text; for a picture, empty and nImage names the bitmap
    DWORD dwStyle;
    DWORD dwExStyle;
    short x, y, cx, cy; // dialog units
    WORD nImage;        // bitmap resource of an SS_BITMAP static, 0 otherwise
};

struct AFX_DLGTEMPLATE {
    WORD nID;
    DWORD dwStyle;
    DWORD dwExStyle;
    short x, y, cx, cy; // dialog units
    const WCHAR* lpszCaption;
    const WCHAR* lpszFontFace;
    WORD wPointSize;
    const AFX_DLGITEM* pItems;
    int nItems;
};

struct AFX_STRINGRES {
    UINT nID;
    const WCHAR* lpszText;
};

// An image file (BMP or PNG) embedded in the executable. An icon has one entry per size.
struct AFX_IMAGERES {
    WORD nID;
    const unsigned char* pData;
    std::size_t nSize;
};

struct AFX_RESOURCE_TABLE {
    const AFX_DLGTEMPLATE* pDialogs;
    int nDialogs;
    const AFX_STRINGRES* pStrings;
    int nStrings;
    const AFX_IMAGERES* pBitmaps;
    int nBitmaps;
    const AFX_IMAGERES* pIcons;
    int nIcons;
};
