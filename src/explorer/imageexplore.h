#pragma once

#include <QStringList>
#include <QWidget>

namespace qmt {

// The thumbnail explorer: lists one folder as a grid of sub-folders and image thumbnails and
// tells its host about selection and opening through ItemSelected and ItemOpened.
class ImageExplore : public QWidget
{
    Q_OBJECT

public:
    explicit ImageExplore(QWidget *parent = nullptr);
    ~ImageExplore() override;

    void SetExt(const QString &s);
    void ExplorePath(const QString &path);
    void AddImage(const QString &strPath, bool bIsFolder);
    QStringList GetImageList(const QString &path, const QString &SearchStr);
    void NextItem();
    void PrevItem();
    void SetSelectedFocus(const QString &sPath);
    void UpdateAfterOperation(const QString &path, const QString &pathTO);

    // The control's state, read by its host and the tests.
    QString extensionList() const;
    QStringList imagePaths() const;
    int itemCount() const;
    bool stopFlag() const;

Q_SIGNALS:
    void ItemSelected(const QString &path);
    void ItemOpened(const QStringList &ImagePaths, int Index, const QString &sFolderPath);
};

} // namespace qmt
