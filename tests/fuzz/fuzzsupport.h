#pragma once

// What every fuzz target of the codecs needs: a GUI application on the offscreen platform
// (fonts and the image readers need one), created once.

#include <QGuiApplication>
#include <QImageReader>

// Fontconfig keeps its caches until the process ends; the leak check at exit would report them
// (and leave an empty input behind as a "crash").
extern "C" const char *__asan_default_options() { return "detect_leaks=0"; }

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
