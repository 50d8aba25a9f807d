#include "app/AttributeCatalogue.h"

const CatalogueEntry kAttributeCatalogue[17] = {
    {u"NAME", u"cn", true},
    {u"FIRST NAME", u"givenName", true},
    {u"INITIAL", u"initials", true},
    {u"LAST NAME", u"sn", true},
    {u"DISPLAY NAME", u"displayName", true},
    {u"DESCRIPTION", u"description", true},
    {u"OFFICE", u"physicalDeliveryOfficeName", false},
    {u"TELEPHONE NUMBER", u"telephoneNumber", false},
    {u"E-MAIL ID", u"mail", false},
    {u"WEB SITE ADDRESS", u"url", false},
    {u"ADDRESS", u"streetAddress", false},
    {u"POST BOX NUMBER", u"postOfficeBox", false},
    {u"CITY", u"l", false},
    {u"STATE\\PROVINCE", u"st", false},
    {u"ZIP CODE", u"postalCode", false},
    {u"COUNTRY", u"co", false},
    {u"LOGON NAME", u"userPrincipalName", false},
};

LPCWSTR LookupAttributeName(const CString& label) {
    for (const CatalogueEntry& e : kAttributeCatalogue)
        if (label.CompareNoCase(e.label) == 0) return e.attribute;
    return nullptr;
}
