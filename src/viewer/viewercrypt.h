#pragma once

#include <QString>

class QWidget;

namespace qmt {

class ImageDocument;
class frmDialog;

// What came of an Encrypt or Decrypt command.
struct CryptOutcome {
    enum Kind { Done, Cancelled, EmptyKey, Failed } kind = Cancelled;
    QString error; // for Failed, already shown to the user
};

// Asks for a key in the prompt dialog ("Encryption" / "Encryption Key:") and encrypts the
// document's picture in place with it. Cancel, the close box or an empty key leave the picture
// alone. `owner` owns the modal dialog; `frmDlg`, when given, holds the dialog while it is up
// (so its ControlChanged can be followed) and is reset before returning.
CryptOutcome EncryptShownImage(ImageDocument &document, QWidget *owner,
                               frmDialog **frmDlg = nullptr);
// The same with "Decryption" / "Decryption Key:", decrypting.
CryptOutcome DecryptShownImage(ImageDocument &document, QWidget *owner,
                               frmDialog **frmDlg = nullptr);

} // namespace qmt
