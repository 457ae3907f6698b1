#include "dialogs/helpandupdate.h"

#include "components/launcher.h"
#include "components/prompts.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QUrl>

namespace qmt {
namespace {

QString folderOrOwn(const QString &programFolder)
{
    return programFolder.isEmpty() ? QCoreApplication::applicationDirPath() : programFolder;
}

} // namespace

bool desktopOpensChm()
{
    const AbstractLauncher::RunResult result =
        launcher().run(QStringLiteral("xdg-mime"),
                       {QStringLiteral("query"), QStringLiteral("default"),
                        QStringLiteral("application/vnd.ms-htmlhelp")},
                       3000);
    return result.started && result.exitCode == 0 && !result.output.trimmed().isEmpty();
}

bool OpenHelp(const QString &programFolder)
{
    const QString folder = folderOrOwn(programFolder);
    const QString chm = folder + QStringLiteral("/qmt.chm");
    if (QFileInfo(chm).isFile() && desktopOpensChm() &&
        launcher().openDocument(QUrl::fromLocalFile(chm)))
        return true;
    const QString pages = folder + QStringLiteral("/help/index.html");
    if (QFileInfo(pages).isFile() && launcher().openDocument(QUrl::fromLocalFile(pages)))
        return true;
    prompts().message(
        QStringLiteral("The help cannot be opened: neither \"%1\" nor \"%2\" could be shown.")
            .arg(chm, pages),
        PromptIcon::Exclamation, PromptButtons::Ok);
    return false;
}

bool StartUpdater(const QString &programFolder)
{
    const QString updater = folderOrOwn(programFolder) + QStringLiteral("/update/update");
    if (QFileInfo(updater).isExecutable() && launcher().startDetached(updater, {}))
        return true;
    prompts().message(QStringLiteral("The updater \"%1\" cannot be started.").arg(updater),
                      PromptIcon::Exclamation, PromptButtons::Ok);
    return false;
}

} // namespace qmt
