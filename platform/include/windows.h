// The Windows API subset of the platform layer.
#pragma once

#include "windef.h"
#include "winerror.h"
#include "winbase.h"
#include "wingdi.h"
#include "winuser.h"
#include "wincrt.h"
#ifndef WIN32_LEAN_AND_MEAN
#include "ole2.h"
#endif
