#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QTemporaryDir>

#include <optional>

namespace qmt::test {

// A temporary home for one test: its own registry, XDG config, data and cache folders, all
// pointed at by the environment while the sandbox lives, and restored afterwards.
class Sandbox
{
public:
    Sandbox();
    ~Sandbox();

    QString path() const { return m_dir.path(); }
    QString file(const QString &relative) const { return m_dir.filePath(relative); }
    // Creates the folder (and its parents) under the sandbox and returns its full path.
    QString makeDir(const QString &relative) const;
    QString registryDir() const { return file("registry"); }

private:
    void setEnv(const char *name, const QString &value);

    QTemporaryDir m_dir;
    QHash<QByteArray, std::optional<QByteArray>> m_saved;
};

} // namespace qmt::test
