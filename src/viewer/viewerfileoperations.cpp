// The viewer's file operations (copy to, move to, rename, delete), the wallpaper, help, update
// and about commands, and the encryption prompts.
#include "viewer/frmviwer.h"

#include "components/engine/imagedocument.h"
#include "components/engine/imageview.h"
#include "components/nativefile.h"
#include "components/prompts.h"
#include "dialogs/frmabout.h"
#include "dialogs/frmfile.h"
#include "dialogs/helpandupdate.h"
#include "shell/fileoperations.h"
#include "shell/wallpaper.h"
#include "viewer/viewercrypt.h"
#include "viewer/viewerformat.h"

#include <QDir>
#include <QFileInfo>

namespace qmt {

namespace {

bool fileStillThere(const QString &path)
{
    return statPath(path, false).exists();
}

} // namespace

// opType: 1 copy to, 2 delete (to the trash), 3 delete for good, 4 move to, 5 rename.
void frmViwer::DoFileOperation(int opType)
{
    if (m_CurrentIndex < 0 || m_CurrentIndex >= m_PathList.size())
        return;
    const QString sPath = m_PathList.at(m_CurrentIndex);
    if (sPath.isEmpty())
        return;
    const QString fileName = QFileInfo(sPath).fileName();

    FileOperations operations;
    FileOperationResult result;
    QString pathTO;

    switch (opType) {
    case 1:
    case 4: {
        const QString folder = ShowFileForm(opType, sPath);
        if (folder.isEmpty())
            return;
        pathTO = FileOperations::withTrailingSeparator(folder) + fileName;
        result =
            opType == 1 ? operations.copyFile(sPath, pathTO) : operations.moveFile(sPath, pathTO);
        break;
    }
    case 2:
    case 3:
        result = operations.remove({sPath}, opType == 3);
        break;
    case 5: {
        const std::optional<QString> answer =
            prompts().input(QStringLiteral("File Name:"), QStringLiteral("Rename File"), fileName);
        if (!answer)
            return; // cancelled
        // The rename itself refuses an empty or blank name, a name with a separator and the
        // name of an existing file with a message, and leaves a folder's name or the same name
        // alone.
        const QString target =
            QDir::cleanPath(QFileInfo(sPath).absolutePath() + QLatin1Char('/') + *answer);
        if (!answer->trimmed().isEmpty() && !answer->contains(QLatin1Char('/')) &&
            (target == QDir::cleanPath(sPath) || QFileInfo(target).isDir()))
            return;
        result = operations.rename(sPath, *answer);
        if (!result.moved.isEmpty())
            pathTO = result.moved.first().second;
        break;
    }
    default:
        return;
    }

    // A copy never changes the list, even when its source had already gone. A declined
    // confirmation, a failure or a skipped replace leave the file in place: nothing changes.
    if (opType == 1 || fileStillThere(sPath))
        return;

    if (opType == 5) {
        if (pathTO.isEmpty())
            return;
        if (!bCommand)
            Q_EMIT filesChanged(sPath, pathTO);
        m_PathList[m_CurrentIndex] = pathTO;
        // A folder's list still being read carries the old name.
        ++m_listTicket;
        m_listPending = false;
        // The shown image now belongs to the new name: the status bar and a later save name it.
        m_document->fileRenamed(pathTO);
        setWindowTitle(viewer::windowCaption(pathTO));
        UpdateStatusBar();
        refreshProperties();
        return;
    }

    // Deleted or moved away.
    if (!bCommand)
        Q_EMIT filesChanged(sPath, QString());
    QStringList list = m_PathList;
    list.removeAt(m_CurrentIndex);
    bool anyImage = false;
    for (const QString &entry : std::as_const(list))
        anyImage = anyImage || !entry.isEmpty();
    if (!anyImage) {
        // That was the last image: the viewer closes as its Close command does.
        m_PathList = list;
        CloseViewer();
        return;
    }
    // The image that followed the removed one; after the last one, the new last image.
    int index = qMin(m_CurrentIndex, int(list.size()) - 1);
    int shown = index;
    while (shown < list.size() && list.at(shown).isEmpty())
        ++shown;
    if (shown == list.size()) {
        shown = index;
        while (list.at(shown).isEmpty())
            --shown;
    }
    ViewImage(list, shown);
}

void frmViwer::SetAsWallpaper()
{
    SetWallpaper(m_view);
}

void frmViwer::ShowHelpIndex()
{
    OpenHelp();
}

void frmViwer::RunUpdate()
{
    StartUpdater();
}

void frmViwer::ShowAbout()
{
    frmAbout::ShowAbout(this);
}

void frmViwer::Encrypt()
{
    EncryptShownImage(*m_document, this, &frmDlg);
}

void frmViwer::Decrypt()
{
    DecryptShownImage(*m_document, this, &frmDlg);
}

} // namespace qmt
