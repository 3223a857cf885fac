// What merging a file would do, before it does it: each address of the file
// is new to the collection, identical to the source there (same address,
// same rules), or changed. The merge then adds the new ones and may update
// the changed ones in place, keeping the collection's own name, group,
// enabled flag and order number when asked (as the reader app's import does).
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "support/KivTypes.h"

class JSONArray;
class JSONObject;
class TMainLogic;

enum class TMergeKind { New, Identical, Changed };

struct TMergeItem {
  TMergeKind Kind = TMergeKind::New;
  int FileIndex = 0;                    // in the loaded file's array
  const JSONObject* Incoming = nullptr;
  int Position = -1;                    // the collection's source of that address (not for new ones)
  const JSONObject* Existing = nullptr;
  int64_t IncomingTime = 0, ExistingTime = 0;  // lastUpdateTime
};

struct TMergePreview {
  // One item per address of the file, in file order; a file that holds an
  // address twice is represented by its last copy, as the reader app takes it.
  std::vector<TMergeItem> Items;
  int Superseded = 0;  // earlier copies of an address in the file
  int Count(TMergeKind AKind) const;
};

// Matches by the exact bookSourceUrl; an address the collection holds more
// than once is compared with its first copy. "Identical": the duplicate rule
// holds with names and groups left out (uRemoveRepeat), and no member other
// than the bookkeeping ones (name, group, enabled flags, order numbers,
// weight, times, comment) differs, ASCII case aside.
TMergePreview ClassifyMerge(const std::vector<const JSONObject*>& ACollection,
                            const std::vector<const JSONObject*>& AIncoming);
// The sources of a loaded file (other elements as null).
std::vector<const JSONObject*> FileSources(const JSONArray& ALoaded);

// What an update in place leaves as the collection had it.
struct TKeepFields {
  bool Name = false;     // bookSourceName
  bool Group = false;    // bookSourceGroup
  bool Enabled = false;  // enabled and enable
  bool Order = false;    // customOrder and serialNumber
};
// "name,group,enabled,order" (any of them, in any order); false on an unknown word.
bool ParseKeepFields(std::string_view AText, TKeepFields& AFields, std::string& AUnknown);

// ATarget takes ASource's members and stays the same object; each kept field
// keeps ATarget's own member, or its absence.
void UpdateSourceInPlace(JSONObject* ATarget, const JSONObject* ASource, const TKeepFields& AKeep);

enum class TMergeAction { AddNew, AddNewUpdateChanged };
struct TMergeCounts {
  int Added = 0, Updated = 0, Unchanged = 0;
};
// Main thread, one undo entry: the new sources move from ALoaded to the end
// of the collection in file order; with AddNewUpdateChanged the changed
// sources are rewritten where they stand.
TMergeCounts ApplyMerge(TMainLogic& ALogic, JSONArray& ALoaded, const TMergePreview& APreview, TMergeAction AAction,
                        const TKeepFields& AKeep);

// lastUpdateTime as local "yyyy-mm-dd hh:mm:ss"; "无" for none.
String UpdateTimeText(int64_t AMs);
