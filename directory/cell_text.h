// The text of one cell of the result list, as the export reads it back: one line, no commas.
#pragma once

#include "platform/cstring.h"

// Every CR LF pair becomes ", " and then every comma a blank, so that a pair ends up as two blanks;
// a line break on its own (LF or CR) becomes two blanks as well.
void RemoveLineBreaksAndCommas(CString& strText);
