#include "support/sandbox.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <filesystem>

namespace qmt::test {

Sandbox::Sandbox()
{
    QStandardPaths::setTestModeEnabled(false);
    setEnv("QMT_REGISTRY_DIR", makeDir("registry"));
    setEnv("XDG_CONFIG_HOME", makeDir("config"));
    setEnv("XDG_DATA_HOME", makeDir("data"));
    setEnv("XDG_CACHE_HOME", makeDir("cache"));
    setEnv("XDG_RUNTIME_DIR", makeDir("runtime"));
    setEnv("HOME", makeDir("home"));
    QFile::setPermissions(file("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

Sandbox::~Sandbox()
{
    for (auto it = m_saved.cbegin(); it != m_saved.cend(); ++it) {
        if (it.value())
            qputenv(it.key().constData(), *it.value());
        else
            qunsetenv(it.key().constData());
    }
    // By the bytes of the names: Qt's own removal skips names that are not valid UTF-8.
    std::error_code ignored;
    std::filesystem::remove_all(
        std::filesystem::path(QFile::encodeName(m_dir.path()).toStdString()), ignored);
}

QString Sandbox::makeDir(const QString &relative) const
{
    const QString full = m_dir.filePath(relative);
    QDir().mkpath(full);
    return full;
}

void Sandbox::setEnv(const char *name, const QString &value)
{
    if (!m_saved.contains(name))
        m_saved.insert(name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name))
                                                             : std::nullopt);
    qputenv(name, value.toLocal8Bit());
}

} // namespace qmt::test
