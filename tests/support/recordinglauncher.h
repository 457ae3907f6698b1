#pragma once

#include "components/launcher.h"

#include <QHash>
#include <QList>

namespace qmt::test {

// Records what the program would open or start. Commands given to run() either get a scripted
// result or, with passThrough(), really run (for stand-in commands the test put on PATH).
class RecordingLauncher final : public AbstractLauncher
{
public:
    struct Call {
        enum Kind { Open, Detached, Run } kind;
        QString program; // or the URL for Open
        QStringList arguments;
    };

    RecordingLauncher();  // installs itself
    ~RecordingLauncher() override;

    void setOpenResult(bool ok) { m_openResult = ok; }
    void setDetachedResult(bool ok) { m_detachedResult = ok; }
    void setPassThrough(bool on) { m_passThrough = on; }
    void setRunResult(const QString &program, RunResult result) { m_runResults.insert(program, result); }
    void setAvailablePrograms(const QStringList &programs) { m_available = programs; m_availableSet = true; }

    const QList<Call> &calls() const { return m_calls; }
    void clear() { m_calls.clear(); }

    bool openDocument(const QUrl &url) override;
    bool startDetached(const QString &program, const QStringList &arguments) override;
    RunResult run(const QString &program, const QStringList &arguments, int timeoutMs) override;
    bool hasProgram(const QString &program) override;

private:
    QList<Call> m_calls;
    bool m_openResult = true;
    bool m_detachedResult = true;
    bool m_passThrough = false;
    bool m_availableSet = false;
    QStringList m_available;
    QHash<QString, RunResult> m_runResults;
};

} // namespace qmt::test
