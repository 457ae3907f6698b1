// The viewer's file operations (copy to, move to, rename, delete), the wallpaper, help, update
// and about commands, and the encryption prompts. The menus and keys are wired to these entry
// points; the operations themselves are written with the copy/move dialog and the prompt dialog.
#include "viewer/frmviwer.h"

namespace qmt {

// opType: 1 copy to, 2 delete, 4 move to, 5 rename.
void frmViwer::DoFileOperation(int opType)
{
    Q_UNUSED(opType);
}

void frmViwer::SetAsWallpaper() {}

void frmViwer::ShowHelpIndex() {}

void frmViwer::RunUpdate() {}

void frmViwer::ShowAbout() {}

void frmViwer::Encrypt() {}

void frmViwer::Decrypt() {}

} // namespace qmt
