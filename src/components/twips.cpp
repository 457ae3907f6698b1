#include "components/twips.h"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>
#include <optional>
#include <utility>

namespace qmt::twips {
namespace {

constexpr double kTwipsPerInch = 1440.0;
constexpr double kDefaultDpi = 96.0;

std::optional<std::pair<double, double>> &override()
{
    static std::optional<std::pair<double, double>> value;
    return value;
}

double screenDpi(bool horizontal)
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return kDefaultDpi;
    const double dpi = horizontal ? screen->logicalDotsPerInchX() : screen->logicalDotsPerInchY();
    return dpi > 1.0 ? dpi : kDefaultDpi;
}

} // namespace

double perPixelX()
{
    if (override())
        return override()->first;
    return kTwipsPerInch / screenDpi(true);
}

double perPixelY()
{
    if (override())
        return override()->second;
    return kTwipsPerInch / screenDpi(false);
}

int toPixelsX(double twips) { return int(std::lround(twips / perPixelX())); }
int toPixelsY(double twips) { return int(std::lround(twips / perPixelY())); }
int fromPixelsX(int pixels) { return int(std::lround(pixels * perPixelX())); }
int fromPixelsY(int pixels) { return int(std::lround(pixels * perPixelY())); }

void setOverride(double x, double y) { override() = std::make_pair(x, y); }
void clearOverride() { override().reset(); }

} // namespace qmt::twips
