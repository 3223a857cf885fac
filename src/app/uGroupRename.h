// Group rename: a whole group name replaced or removed in every source, or
// a piece of text replaced inside the group texts.
#pragma once

#include "support/KivTypes.h"

class JSONObject;

struct TReplaceGroupInput {
  String Find;
  String Replace;
  bool WholeWord = true;
};

// Whether the input asks for anything: a piece of text needs something to find.
bool IsGroupRenameUseful(const TReplaceGroupInput& AInput);
// Applies the rename to one source's bookSourceGroup.
void RenameGroupsOf(JSONObject* ASource, const TReplaceGroupInput& AInput);
// Replaces every occurrence of AFind in AText, upper and lower case alike.
String ReplaceIgnoreCase(const String& AText, const String& AFind, const String& AReplace);
