#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace qmt {

// The Copy To / Move To destination dialog: the source path, a folder tree and an editable
// destination that keeps its last text between uses. One instance serves the whole run of the
// program; it is hidden between uses and unloaded when the main window closes.
class frmFile : public QDialog
{
    Q_OBJECT

public:
    static frmFile *instance();
    static bool isLoaded();
    static void unload();

    // Shows the dialog modally: opType 1 titles it "Copy To", 4 "Move To". Returns the
    // destination folder with a trailing "/" when the user pressed OK, "" on Cancel or the
    // close box (and for an empty destination).
    QString ShowFileForm(int opType, const QString &sSource);

    QLineEdit *txtSource() const { return m_source; }
    QLineEdit *txtDestination() const { return m_destination; }
    QTreeWidget *FolderTree() const { return m_tree; }
    QPushButton *cmdOk() const { return m_ok; }
    QPushButton *cmdCancel() const { return m_cancel; }
    bool cancelled() const { return m_cancelled; }

    // What the tree does when a folder, or its desktop node, is chosen.
    void FolderSelected(const QString &path);
    void DesktopSelected();
    // The desktop folder with its trailing "/" (the home folder when there is no desktop).
    static QString desktopFolder();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    explicit frmFile(QWidget *parent = nullptr);
    ~frmFile() override;
    void place(QWidget *widget, int left, int top, int width, int height);
    QTreeWidgetItem *addFolderItem(QTreeWidgetItem *parent, const QString &text,
                                   const QString &path);
    void fill(QTreeWidgetItem *item);
    void itemChosen(QTreeWidgetItem *item);

    QLabel *m_sourceLabel = nullptr;
    QLineEdit *m_source = nullptr;
    QLabel *m_destinationLabel = nullptr;
    QLineEdit *m_destination = nullptr;
    QTreeWidget *m_tree = nullptr;
    QTreeWidgetItem *m_desktop = nullptr;
    QPushButton *m_ok = nullptr;
    QPushButton *m_cancel = nullptr;
    bool m_cancelled = false;
};

// The shared dialog's ShowFileForm.
QString ShowFileForm(int opType, const QString &sSource);

} // namespace qmt
