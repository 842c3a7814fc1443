// The browse list: a scrollable pick list over one data file, opened by F4
// on a form field. Lines are built lazily, one record at a time, as the user
// scrolls past the last line built, and every built line is kept in the
// list file "Browse.tmp" in the session's temporary directory, so scrolling
// back never reads the data file again.
//
// List file entries, back to back, positions counted in bytes from 1,
// integers little-endian: previous entry's position (4, 0 for the first),
// the record's physical position in the data file (4), text length n (2),
// the text (n, trailing blanks removed).
#pragma once

#include <cstdint>
#include <string>

// Shows list |list| (ListAttr/ListText of the form tables) and lets the
// user pick a line; the bottom line of its frame names its keys in the
// session's language. Its range and its lines come from the listRange and
// listLine hooks of the hub (screens/hub.h). resultOut: 0 when a record was
// picked (it is then in the record area of the list's file); -1 when the
// user left the list, or its filter form, without a pick; any other value is
// the record manager's status of reading the picked record. The list file is
// deleted; the lock mode of the file, the caller's exit keys, the window and
// the display mode are restored.
void Browse(int16_t list, int16_t& resultOut);
