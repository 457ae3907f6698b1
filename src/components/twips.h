#pragma once

#include <QtGlobal>

namespace qmt::twips {

// The window logic keeps its sizes in twips (1/1440 inch). These helpers turn them into pixels
// and back with the screen's logical DPI: 15 twips per pixel at 96 DPI.
double perPixelX();
double perPixelY();

int toPixelsX(double twips);
int toPixelsY(double twips);
int fromPixelsX(int pixels);
int fromPixelsY(int pixels);

// Tests pin the factors so geometry checks do not depend on the screen they run on.
void setOverride(double perPixelX, double perPixelY);
void clearOverride();

} // namespace qmt::twips
