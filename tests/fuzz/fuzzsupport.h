#pragma once

// What every fuzz target of the codecs needs: a GUI application on the offscreen platform
// (fonts and the image readers need one), created once.

#include <QGuiApplication>
#include <QImageReader>

namespace qmt::fuzz {

inline void startApplication()
{
    static int argc = 1;
    static char name[] = "fuzzer";
    static char *argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "*=false");
    static QGuiApplication app(argc, argv);
    QImageReader::setAllocationLimit(512);
}

} // namespace qmt::fuzz
