#pragma once

#include "components/result.h"

#include <QImage>
#include <QList>

class QIODevice;

namespace qmt {

// Wireless bitmap (WBMP type 0): one bit a pixel, 1 white, rows padded to a byte. Colour and grey
// images are error-diffused to black and white first. Reading goes through Qt's reader.
class WbmpWriter
{
public:
    static Status writePages(const QList<QImage> &pages, QIODevice *device);
    // The black-and-white image that is written: bit 1 = white.
    static QImage toBlackAndWhite(const QImage &image);
};

} // namespace qmt
