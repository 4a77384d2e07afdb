#pragma once
// The X libraries that only some features need, found at run time. When one
// is missing, one line in the log names it and its feature is skipped.

#include <X11/ICE/ICElib.h>
#include <X11/SM/SMlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/xpm.h>

#include "DynamicLibrary.h"

// The windows' icon.
#define SA_XPM_FUNCTIONS(F) F(XpmCreatePixmapFromData) F(XpmFreeAttributes)
SA_DYNAMIC_TABLE(GUIX_XpmFunctions, SA_XPM_FUNCTIONS)

// The input grab control.
#define SA_XTST_FUNCTIONS(F) F(XTestGrabControl)
SA_DYNAMIC_TABLE(GUIX_XtstFunctions, SA_XTST_FUNCTIONS)

// Session management: libSM over libICE.
#define SA_ICE_FUNCTIONS(F) \
    F(IceInitThreads) F(IceSetIOErrorHandler) F(IceConnectionNumber) F(IceProcessMessages)
SA_DYNAMIC_TABLE(GUIX_IceFunctions, SA_ICE_FUNCTIONS)
#define SA_SM_FUNCTIONS(F) \
    F(SmcOpenConnection) F(SmcCloseConnection) F(SmcSaveYourselfDone) F(SmcGetIceConnection)
SA_DYNAMIC_TABLE(GUIX_SmFunctions, SA_SM_FUNCTIONS)

// Each is loaded on first use; null (after one log line) when missing.
const GUIX_XpmFunctions* GUIX_Xpm();
const GUIX_XtstFunctions* GUIX_Xtst();
const GUIX_IceFunctions* GUIX_Ice();
const GUIX_SmFunctions* GUIX_Sm();
