#pragma once
// The desktop's scale for the toolkit's geometry: Xft.dpi from the screen's
// resources (RESOURCE_MANAGER) over 96, else GDK_SCALE, else QT_SCALE_FACTOR,
// else 1; clamped to 1-4 and rounded to quarter steps. Any of the three texts
// may be null.
double GUIX_DesktopScale(const char* resourceManager, const char* gdkScale, const char* qtScaleFactor);
