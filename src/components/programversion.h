#pragma once

#include <QString>

namespace qmt {

// The program's version as the build names it (CMake's project version, "1.7.0.1"). The
// application object may carry another (set at start-up from the same build value); it wins,
// so every caption and text follows one number.
QString programVersion();
// "MAJOR.MINOR" of programVersion(), as window captions show it.
QString programMajorMinor();

} // namespace qmt
