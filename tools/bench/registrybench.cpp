// qmt-bench registry values [COUNT] | deep [LEVELS]: how the settings store copes with a large
// registry file, in a registry folder of the bench's own.
//   values  a file of COUNT values (50000: about 1.7 MB) under one key: the first read, the
//           mean of the reads after it while the file is new (each compares the file's bytes),
//           the same once the file has settled (a stat() each), one change, and the first read
//           after that change
//   deep    a file with one key LEVELS levels deep (5000): the first read and the mean of later
//           ones, whether the key was found (a key deeper than the store allows makes the file
//           count as damaged)
// Each line ends with the peak resident memory of the process so far; run one case a process.
#include "benches.h"

#include "shell/registrystore.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <sys/resource.h>

#include <cstdio>

namespace {

using qmt::RegistryRoot;
using qmt::RegistryStore;
using qmt::RegistryValue;

constexpr RegistryRoot kRoot = RegistryRoot::CurrentUser;
constexpr int kLaterReads = 200;

long peakMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

// Milliseconds of one read of `valueName` under `keyPath`, and whether it was found.
double timeRead(const RegistryStore &store, const QString &keyPath, const QString &valueName,
                bool *found = nullptr)
{
    QElapsedTimer clock;
    clock.start();
    const auto value = store.value(kRoot, keyPath, valueName);
    const double ms = double(clock.nsecsElapsed()) / 1e6;
    if (found)
        *found = value.has_value();
    return ms;
}

double meanOfLaterReads(const RegistryStore &store, const QString &keyPath,
                        const QString &valueName)
{
    double total = 0;
    for (int i = 0; i < kLaterReads; ++i)
        total += timeRead(store, keyPath, valueName);
    return total / kLaterReads;
}

int benchValues(const QString &dir, int count)
{
    const QString key = QStringLiteral("Software\\Bench");
    QByteArray text = "Pictavo Registry 1\n[HKEY_CURRENT_USER\\Software\\Bench]\n";
    for (int i = 0; i < count; ++i)
        text += QStringLiteral("\"Value %1\"=\"text of value %1\"\n")
                    .arg(i, 5, 10, QLatin1Char('0'))
                    .toUtf8();
    RegistryStore store(dir);
    if (!writeFile(store.fileOf(kRoot), text))
        return 1;
    const QString last = QStringLiteral("Value %1").arg(count - 1, 5, 10, QLatin1Char('0'));
    bool found = false;
    const double first = timeRead(store, key, last, &found);
    const double later = meanOfLaterReads(store, key, last);
    // A file older than the store's two-second window for coarse time stamps is trusted by its
    // stat alone.
    QThread::msleep(2100);
    const double settled = meanOfLaterReads(store, key, last);
    QElapsedTimer clock;
    clock.start();
    const auto error = store.setValue(kRoot, key, QStringLiteral("Changed"),
                                      RegistryValue::string(QStringLiteral("yes")));
    const double change = double(clock.nsecsElapsed()) / 1e6;
    const double afterChange = timeRead(store, key, QStringLiteral("Changed"));
    std::printf("values %d (%.2f MB): first read %.1f ms, later reads %.3f ms (settled %.3f ms), "
                "change %.1f ms%s, read after change %.1f ms, found %s, peak %ld MB\n",
                count, double(text.size()) / 1e6, first, later, settled, change,
                error == qmt::RegistryError::None ? "" : " (failed)", afterChange,
                found ? "yes" : "no", peakMegabytes());
    return found && error == qmt::RegistryError::None ? 0 : 1;
}

int benchDeep(const QString &dir, int levels)
{
    QByteArray path = "HKEY_CURRENT_USER";
    QString keyPath;
    for (int i = 0; i < levels; ++i) {
        path += "\\k";
        keyPath += i ? QStringLiteral("\\k") : QStringLiteral("k");
    }
    RegistryStore store(dir);
    if (!writeFile(store.fileOf(kRoot), "[" + path + "]\n\"v\"=\"deep\"\n"))
        return 1;
    bool found = false;
    const double first = timeRead(store, keyPath, QStringLiteral("v"), &found);
    const double later = meanOfLaterReads(store, keyPath, QStringLiteral("v"));
    std::printf("deep %d levels: first read %.1f ms, later reads %.3f ms, found %s, peak %ld MB\n",
                levels, first, later, found ? "yes" : "no (refused as damaged)", peakMegabytes());
    return 0;
}

} // namespace

int runRegistryBench(const QStringList &arguments)
{
    const QString which = arguments.value(0);
    bool ok = true;
    const int number = arguments.size() > 1 ? arguments.at(1).toInt(&ok) : 0;
    QTemporaryDir dir;
    if (!ok || !dir.isValid() ||
        (which != QLatin1String("values") && which != QLatin1String("deep"))) {
        std::fprintf(stderr, "usage: qmt-bench registry values [COUNT] | deep [LEVELS]\n");
        return 2;
    }
    if (which == QLatin1String("values"))
        return benchValues(dir.path(), number > 0 ? number : 50000);
    return benchDeep(dir.path(), number > 0 ? number : 5000);
}
