#pragma once

#include "platform/mfc.h"

class CVexlorApp : public CWinApp {
public:
    CVexlorApp();
    BOOL InitInstance() override;

protected:
    static const AFX_MSGMAP* GetThisMessageMap();
    const AFX_MSGMAP* GetMessageMap() const override;
};

extern CVexlorApp theApp;
