// Entry names on POSIX systems: any safe relative name is a plain file name, and
// names differ by every byte.

#include "upgrade/UnpackFolder.h"

bool IsEntryNameUsableHere(const std::string&, std::string&) { return true; }

std::string EntryNameKey(const std::string& name) { return name; }
