#pragma once

#include <QString>

// How this copy of Pictavo came to be installed, and so how it is brought up to date.
struct UpdateInfo {
    enum Kind { BuildTree, Package, ByHand } kind = ByHand;
    QString version;
    QString programFolder;
    QString detail; // the source tree, the package name, or nothing

    // The message shown to the user. It never claims that a newer version exists or not: the
    // updater does not look.
    QString message() const;
};

// Looks at the program folder (the parent of the updater's own folder). `packageOwner` is the
// package that owns a file, or "" (the real one asks dpkg).
UpdateInfo inspectInstallation(const QString &programFolder, const QString &version,
                               QString (*packageOwner)(const QString &path));

QString dpkgOwner(const QString &path);
