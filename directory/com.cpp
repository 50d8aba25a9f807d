// The bits of COM the tool calls. There is no apartment to set up on Linux: the directory objects
// are plain C++ objects used from the thread that made them.
#include <cstdio>

#include "directory/adsi.h"

HRESULT CoInitialize(LPVOID) {
    return S_OK;
}

void CoUninitialize() {}

int StringFromGUID2(REFGUID g, LPWSTR lpsz, int cchMax) {
    constexpr int kChars = 39; // 38 characters and the terminator
    if (!lpsz || cchMax < kChars) return 0;
    char text[kChars + 1];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.Data1), static_cast<unsigned>(g.Data2),
                  static_cast<unsigned>(g.Data3), g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                  g.Data4[5], g.Data4[6], g.Data4[7]);
    for (int i = 0; i < kChars; ++i)
        lpsz[i] = static_cast<WCHAR>(text[i]);
    return kChars;
}
