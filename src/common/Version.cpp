#include "common/Version.h"

#ifndef PALO_VERSION_TEXT
#define PALO_VERSION_TEXT "0.0.0"
#endif

const char* PaloVersionText() { return PALO_VERSION_TEXT; }
