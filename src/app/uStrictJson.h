// The standard JSON grammar (RFC 8259), checked without building anything.
// The library's parser is lenient on purpose (files from the wild load);
// the JSON editor asks before saving a text that only the lenient parser
// takes, because what it makes of such a text is rarely what was meant.
#pragma once

#include "support/KivTypes.h"

struct TJsonSyntaxIssue {
  int Line = 0;    // 1-based
  int Column = 0;  // 1-based, in characters
  String Message;
};

// True when AText is exactly one JSON value with blanks around it; otherwise
// AIssue says where the first fault is and what it is.
bool IsStrictJson(StringView AText, TJsonSyntaxIssue& AIssue);
