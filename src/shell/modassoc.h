#pragma once

#include "shell/registrystorehive.h"

#include <QString>

namespace qmt {

// The program as the opener of its fifteen image types. The registry layout (class keys
// "Orvanta.jpg" and so on, the extension keys with "OldAss", the per-user "FileExts" keys with
// "ProgID" and "OldProgID") is written into the registry store; the desktop's real association
// (desktop entry, MIME definitions, defaults in mimeapps.list) follows it. No failure is
// reported: each write is attempted, reads fall back to their default, and nothing is left
// half-written.

// At every ordinary start and for "/Associate": registers everything on the first start; later
// asks whether to take back the types that are no longer associated.
void CheckAssociations();
// For "/DeAssociate": gives every type still associated back to its previous owner, then takes
// the program's desktop entry and MIME definitions away again when no type opens with it.
void RemoveAssociations();

void RegisterFileType(const QString &progId, const QString &description, const QString &verb,
                      const QString &iconPath);
void AssociateExtension(const QString &extension, const QString &progId);
void UnassociateExtension(const QString &extension, const QString &progId);
// 1 when the extension key's default value is exactly progId and the desktop still opens the
// extension's MIME type with this program; else 0.
int IsAssociated(const QString &extension, const QString &progId);

// Registry routines of the association; an empty value name is the key's default value.
QString GetRegString(RegistryRoot root, const QString &keyPath, const QString &valueName,
                     const QString &defaultText);
void SetRegString(RegistryRoot root, const QString &keyPath, const QString &valueName,
                  const QString &text);
void DeleteRegKey(RegistryRoot root, const QString &keyPath);
void DeleteRegValue(RegistryRoot root, const QString &keyPath, const QString &valueName);

// The path as the system names it (there are no short names here), or "" when it does not exist.
QString ShortPathOf(const QString &path);
// The program's folder with a trailing separator.
QString ProgramFolder();
// Replaces %NAME% references with the environment's values; unknown names stay as written.
QString ExpandEnvStrings(const QString &text);

} // namespace qmt
