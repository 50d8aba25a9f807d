// Dialog templates and strings. Rectangles are in dialog units; items are in tab order.
#include "res/images.h"
#include "res/resource.h"

namespace {

constexpr DWORD kStaticLabel = 0x50020000; // child, visible, group, left-aligned text
constexpr DWORD kEdit = 0x50810080;        // child, visible, border, tab stop, auto horizontal scroll
constexpr DWORD kPushButton = 0x50010000;  // child, visible, tab stop, push button
constexpr DWORD kGroupBox = 0x50000007;    // child, visible, group box
constexpr DWORD kListBox = 0x50A10103;     // sorted, notifying, no integral height, vscroll, border, tab stop

const AFX_DLGITEM kMainItems[] = {
    {1000, u"EDIT", u"", kEdit, 0, 81, 71, 76, 14, 0},
    {1001, u"EDIT", u"", kEdit, 0, 81, 105, 199, 14, 0},
    {1011, u"BUTTON", u"Generate", kPushButton, 0, 281, 105, 50, 14, 0},
    {1013, u"SysListView32", u"", 0x50810801, 0, 23, 162, 307, 142, 0},
    {1012, u"BUTTON", u"Advanced", kPushButton, 0, 281, 142, 50, 14, 0},
    {-1, u"BUTTON", u"Attributes", kGroupBox, 0, 15, 132, 322, 186, 0},
    {-1, u"STATIC", u"Domain Name :", kStaticLabel, 0, 25, 73, 51, 8, 0},
    {-1, u"STATIC", u"Query :", kStaticLabel, 0, 52, 107, 28, 10, 0},
    {-1, u"BUTTON", u"User Credentials", kGroupBox, 0, 15, 60, 322, 68, 0},
    {-1, u"STATIC", u"Total number of Objects :", kStaticLabel, 0, 24, 145, 85, 10, 0},
    {1014, u"STATIC", u"0", kStaticLabel, 0, 121, 145, 36, 9, 0},
    {1016, u"STATIC", u"", 0x5000000E, 0x00000020, 0, 0, 353, 49, IDB_BANNER},
    {1023, u"EDIT", u"", kEdit, 0, 81, 88, 74, 14, 0},
    {1024, u"EDIT", u"", 0x508100A0, 0, 206, 88, 74, 14, 0},
    {-1, u"STATIC", u"User :", kStaticLabel, 0, 51, 91, 24, 8, 0},
    {-1, u"STATIC", u"Password :", kStaticLabel, 0, 162, 90, 37, 8, 0},
    {1003, u"BUTTON", u"Close", kPushButton, 0, 152, 321, 50, 14, 0},
};

const AFX_DLGITEM kAttributeItems[] = {
    {1005, u"BUTTON", u"Replace existing basic attributes", 0x50010003, 0, 16, 5, 140, 8, 0},
    {1004, u"LISTBOX", u"", kListBox, 0, 147, 27, 89, 142, 0},
    {1006, u"LISTBOX", u"", kListBox, 0, 15, 28, 89, 142, 0},
    {1002, u"BUTTON", u">", kPushButton, 0, 113, 50, 25, 14, 0},
    {1007, u"BUTTON", u">>", kPushButton, 0, 113, 69, 25, 14, 0},
    {1008, u"BUTTON", u"<", kPushButton, 0, 113, 86, 25, 14, 0},
    {1009, u"BUTTON", u"<<", kPushButton, 0, 113, 104, 25, 14, 0},
    {1003, u"BUTTON", u"OK", kPushButton, 0, 72, 172, 50, 14, 0},
    {1010, u"BUTTON", u"Cancel", kPushButton, 0, 126, 172, 50, 14, 0},
    {-1, u"STATIC", u"Available attributes", 0x50000000, 0, 16, 14, 66, 8, 0},
    {-1, u"STATIC", u"Selected Attributes", 0x50000000, 0, 148, 14, 66, 8, 0},
};

const AFX_DLGITEM kAboutItems[] = {
    {1018, u"STATIC", u"Brevonix", kStaticLabel, 0, 41, 31, 105, 8, 0},
    {1019, u"STATIC", u"Copyright \u00A9 2026 Talmore. All rights reserved.", kStaticLabel, 0, 41, 48, 202, 8,
     0},
    {1020, u"STATIC", kMakerWebSite, kStaticLabel, 0, 45, 65, 151, 8, 0},
    {1021, u"STATIC", kSupportMail, kStaticLabel, 0, 45, 77, 105, 8, 0},
    {1022, u"STATIC", kSalesMail, kStaticLabel, 0, 45, 89, 156, 8, 0},
    {-1, u"BUTTON", u"", kGroupBox, 0, 38, 54, 183, 53, 0},
    {1003, u"BUTTON", u"OK", kPushButton, 0, 94, 111, 50, 14, 0},
    {1024, u"STATIC", u"ver 9.09.01", kStaticLabel, 0, 41, 39, 50, 8, 0},
};

template <class T, int N> constexpr int Count(const T (&)[N]) {
    return N;
}

const AFX_DLGTEMPLATE kDialogs[] = {
    {IDD_VEXLOR_DIALOG, 0x90CA00C8, 0x00040000, 0, 0, 353, 339, u"Vexlor", u"MS Shell Dlg", 8, kMainItems,
     Count(kMainItems)},
    {IDD_ATTRIBUTES, 0x80C800C8, 0, 0, 0, 251, 193, u"Attributes", u"MS Shell Dlg", 8, kAttributeItems,
     Count(kAttributeItems)},
    {IDD_ABOUTBOX, 0x80C800C8, 0, 0, 0, 260, 132, u"About Brevonix", u"MS Shell Dlg", 8, kAboutItems,
     Count(kAboutItems)},
};

const AFX_STRINGRES kStrings[] = {
    {IDS_ABOUTBOX, u"&About Brevonix"},
};

} // namespace

const AFX_RESOURCE_TABLE* BrevonixResources() {
    static const AFX_IMAGERES bitmaps[] = {
        {IDB_BANNER, kBannerBmp, sizeof kBannerBmp},
        {IDB_ABOUT, kAboutBmp, sizeof kAboutBmp},
    };
    static const AFX_IMAGERES icons[] = {
        {IDR_MAINFRAME, kIcon32Png, sizeof kIcon32Png},
        {IDR_MAINFRAME, kIcon16Png, sizeof kIcon16Png},
    };
    static const AFX_RESOURCE_TABLE table = {kDialogs, Count(kDialogs), kStrings, Count(kStrings),
                                             bitmaps,  Count(bitmaps),  icons,    Count(icons)};
    return &table;
}
