#include "benches.h"
#include "components/memorypolicy.h"
#include "eventtimer.h"

#include <cstdio>

int main(int argc, char *argv[])
{
    // The program's own heap settings, so the figures are the program's.
    qmt::applyMemoryPolicy();
    // The benchmarks run the real widgets without a display unless one is asked for.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    BenchApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    const QString command = arguments.isEmpty() ? QString() : arguments.takeFirst();
    if (command == QLatin1String("explore"))
        return runExploreBench(arguments);
    if (command == QLatin1String("view"))
        return runViewBench(arguments);
    if (command == QLatin1String("registry"))
        return runRegistryBench(arguments);
    std::fprintf(stderr,
                 "usage: qmt-bench explore [--no-cache | --unwritable-cache] [--scroll] DIR\n"
                 "       qmt-bench view FILE...\n"
                 "       qmt-bench registry values [COUNT] | deep [LEVELS]\n");
    return 2;
}
