#include "components/programversion.h"

#include <QCoreApplication>
#include <QStringList>

namespace qmt {

QString programVersion()
{
    const QString set = QCoreApplication::applicationVersion();
    return set.isEmpty() ? QStringLiteral(QMT_VERSION) : set;
}

QString programMajorMinor()
{
    const QStringList parts = programVersion().split(QLatin1Char('.'));
    const QString major = parts.value(0).isEmpty() ? QStringLiteral("0") : parts.value(0);
    const QString minor = parts.value(1).isEmpty() ? QStringLiteral("0") : parts.value(1);
    return major + QLatin1Char('.') + minor;
}

} // namespace qmt
