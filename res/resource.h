// Resource and control identifiers.
#pragma once

#include "platform/resources.h"

// Dialogs
constexpr unsigned IDD_ABOUTBOX = 100;
constexpr unsigned IDD_VEXLOR_DIALOG = 102;
constexpr unsigned IDD_ATTRIBUTES = 129;
// Strings
constexpr unsigned IDS_ABOUTBOX = 101;
// Pictures
constexpr unsigned IDB_BANNER = 130;
constexpr unsigned IDB_ABOUT = 132;
constexpr unsigned IDR_MAINFRAME = 143;

// Main window controls
constexpr int IDC_EDT_DOMAIN = 1000;
constexpr int IDC_EDT_QUERY = 1001;
constexpr int IDC_BTN_CLOSE = 1003;
constexpr int IDC_BTN_GENERATE = 1011;
constexpr int IDC_BTN_ADVANCED = 1012;
constexpr int IDC_LST_RESULT = 1013;
constexpr int IDC_STC_COUNT = 1014;
constexpr int IDC_LNK_EXPORT = 1015;
constexpr int IDC_STC_BANNER = 1016;
constexpr int IDC_EDT_USER = 1023;
constexpr int IDC_EDT_PASSWORD = 1024;

// Attribute chooser controls
constexpr int IDC_BTN_MOVE_ONE = 1002;
constexpr int IDC_BTN_OK = 1003;
constexpr int IDC_LST_SELECTED = 1004;
constexpr int IDC_CHK_REPLACE = 1005;
constexpr int IDC_LST_AVAILABLE = 1006;
constexpr int IDC_BTN_MOVE_ALL = 1007;
constexpr int IDC_BTN_REMOVE_ONE = 1008;
constexpr int IDC_BTN_REMOVE_ALL = 1009;
constexpr int IDC_BTN_CANCEL = 1010;

// About box controls
constexpr int IDC_STC_PRODUCT = 1018;
constexpr int IDC_STC_LEGAL = 1019;
constexpr int IDC_LNK_WEBSITE = 1020;
constexpr int IDC_LNK_SUPPORT = 1021;
constexpr int IDC_LNK_SALES = 1022;
constexpr int IDC_STC_VERSION = 1024;

// The texts of the About box's links.
inline constexpr const char16_t* kMakerWebSite = u"http://www.talmore.example";
inline constexpr const char16_t* kSupportMail = u"support@talmore.example";
inline constexpr const char16_t* kSalesMail = u"sales@talmore.example";

// All of the above, for the window system.
const AFX_RESOURCE_TABLE* BrevonixResources();
