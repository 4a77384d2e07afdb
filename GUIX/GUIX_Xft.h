#pragma once
// Antialiased text: Xft over fontconfig, drawn through the X server's RENDER
// extension, all found at run time. The few declarations used are written
// here, as the libraries' stable C interfaces give them, so that building
// needs none of their headers (nor FreeType's) for any architecture.

#include <X11/Xlib.h>

#include "DynamicLibrary.h"

extern "C" {
typedef unsigned char FcChar8;
typedef unsigned int FcChar32;
typedef int FcBool;
typedef struct _FcPattern FcPattern;
typedef struct _FcCharSet FcCharSet;
typedef enum _FcResult { FcResultMatch, FcResultNoMatch, FcResultTypeMismatch, FcResultNoId } FcResult;

FcPattern* FcPatternCreate(void);
FcPattern* FcPatternDuplicate(const FcPattern* p);
void FcPatternDestroy(FcPattern* p);
FcBool FcPatternAddString(FcPattern* p, const char* object, const FcChar8* s);
FcBool FcPatternAddDouble(FcPattern* p, const char* object, double d);
FcBool FcPatternAddCharSet(FcPattern* p, const char* object, const FcCharSet* c);
FcResult FcPatternGetString(const FcPattern* p, const char* object, int n, FcChar8** s);
FcCharSet* FcCharSetCreate(void);
FcBool FcCharSetAddChar(FcCharSet* fcs, FcChar32 ucs4);
void FcCharSetDestroy(FcCharSet* fcs);

typedef struct {
    unsigned short red, green, blue, alpha;
} XRenderColor;
typedef struct {
    unsigned short width, height;
    short x, y, xOff, yOff;
} XGlyphInfo;
Bool XRenderQueryExtension(Display* dpy, int* event_basep, int* error_basep);

typedef struct _XftDraw XftDraw;
typedef struct _XftFont {
    int ascent;
    int descent;
    int height;
    int max_advance_width;
    FcCharSet* charset;
    FcPattern* pattern;
} XftFont;
typedef struct _XftColor {
    unsigned long pixel;
    XRenderColor color;
} XftColor;
typedef struct _XftCharFontSpec {
    XftFont* font;
    FcChar32 ucs4;
    short x;
    short y;
} XftCharFontSpec;

FcPattern* XftFontMatch(Display* dpy, int screen, const FcPattern* pattern, FcResult* result);
XftFont* XftFontOpenPattern(Display* dpy, FcPattern* pattern);
void XftFontClose(Display* dpy, XftFont* pub);
FcBool XftCharExists(Display* dpy, XftFont* pub, FcChar32 ucs4);
void XftTextExtents32(Display* dpy, XftFont* pub, const FcChar32* string, int len, XGlyphInfo* extents);
XftDraw* XftDrawCreate(Display* dpy, Drawable drawable, Visual* visual, Colormap colormap);
void XftDrawDestroy(XftDraw* draw);
void XftDrawCharFontSpec(XftDraw* draw, const XftColor* color, const XftCharFontSpec* chars, int len);
Bool XftColorAllocValue(Display* dpy, Visual* visual, Colormap cmap, const XRenderColor* color,
                        XftColor* result);
}

#define SA_FC_FUNCTIONS(F) \
    F(FcPatternCreate)     \
    F(FcPatternDuplicate)  \
    F(FcPatternDestroy)    \
    F(FcPatternAddString)  \
    F(FcPatternAddDouble)  \
    F(FcPatternAddCharSet) F(FcPatternGetString) F(FcCharSetCreate) F(FcCharSetAddChar) F(FcCharSetDestroy)
SA_DYNAMIC_TABLE(GUIX_FcFunctions, SA_FC_FUNCTIONS)
#define SA_XRENDER_FUNCTIONS(F) F(XRenderQueryExtension)
SA_DYNAMIC_TABLE(GUIX_XrenderFunctions, SA_XRENDER_FUNCTIONS)
#define SA_XFT_FUNCTIONS(F) \
    F(XftFontMatch)         \
    F(XftFontOpenPattern)   \
    F(XftFontClose)         \
    F(XftCharExists)        \
    F(XftTextExtents32) F(XftDrawCreate) F(XftDrawDestroy) F(XftDrawCharFontSpec) F(XftColorAllocValue)
SA_DYNAMIC_TABLE(GUIX_XftFunctions, SA_XFT_FUNCTIONS)

// Each is loaded on first use; null (after one log line) when missing.
const GUIX_FcFunctions* GUIX_Fc();
const GUIX_XrenderFunctions* GUIX_Xrender();
const GUIX_XftFunctions* GUIX_Xft();
