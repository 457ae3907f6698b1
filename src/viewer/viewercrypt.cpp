#include "viewer/viewercrypt.h"

#include "components/engine/imagedocument.h"
#include "components/prompts.h"
#include "dialogs/frmdialog.h"

#include <QLineEdit>

#include <memory>

namespace qmt {
namespace {

CryptOutcome runCrypt(ImageDocument &document, QWidget *owner, frmDialog **frmDlg, bool encrypt)
{
    CryptOutcome outcome;
    // A fresh dialog for each prompt: Cancelled starts False.
    auto dialog = std::make_unique<frmDialog>(owner);
    if (frmDlg)
        *frmDlg = dialog.get();
    dialog->setWindowTitle(encrypt ? QStringLiteral("Encryption") : QStringLiteral("Decryption"));
    dialog->AddControl(encrypt ? QStringLiteral("Encryption Key:")
                               : QStringLiteral("Decryption Key:"),
                       QString(), 0);
    dialog->exec();
    const bool cancelled = dialog->Cancelled();
    const QString key = dialog->txtText(0)->text(); // as typed: no trimming
    if (frmDlg)
        *frmDlg = nullptr;
    dialog.reset();

    if (cancelled)
        return outcome;
    if (key.isEmpty()) {
        outcome.kind = CryptOutcome::EmptyKey;
        return outcome;
    }
    const Status status = encrypt ? document.EncryptImage(key) : document.DecryptImage(key);
    if (!status) {
        outcome.kind = CryptOutcome::Failed;
        outcome.error = status.error();
        prompts().message(status.error(), PromptIcon::Exclamation, PromptButtons::Ok);
        return outcome;
    }
    outcome.kind = CryptOutcome::Done;
    return outcome;
}

} // namespace

CryptOutcome EncryptShownImage(ImageDocument &document, QWidget *owner, frmDialog **frmDlg)
{
    return runCrypt(document, owner, frmDlg, true);
}

CryptOutcome DecryptShownImage(ImageDocument &document, QWidget *owner, frmDialog **frmDlg)
{
    return runCrypt(document, owner, frmDlg, false);
}

} // namespace qmt
