// The classes of the compiled-in class table (ProgIDs "Word.Application" and "Word.Document";
// server module "WordServer.dll").
#pragma once

#include "guiddef.h"

extern "C" const CLSID CLSID_WordApplication; // {000209FF-0000-0000-C000-000000000046}
extern "C" const CLSID CLSID_WordDocument;    // {00020906-0000-0000-C000-000000000046}
