#include "app/foldertree.h"

#include "app/foldertreemodel.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimer>

namespace qmt {

FolderTree::FolderTree(QWidget *parent) : QTreeView(parent), m_model(new FolderTreeModel(this))
{
    setModel(m_model);
    setHeaderHidden(true);
    setUniformRowHeights(true);
    setAnimated(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setTextElideMode(Qt::ElideRight);
    connect(this, &QTreeView::clicked, this, [this](const QModelIndex &index) {
        if (index.isValid())
            Q_EMIT event9();
    });
}

void FolderTree::keyPressEvent(QKeyEvent *event)
{
    // Enter chooses the node the keys are on; opening or closing a node chooses nothing.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    QTreeView::keyPressEvent(event);
    if (enter && currentIndex().isValid())
        Q_EMIT event20(currentIndex());
}

QString FolderTree::SelectedPath() const
{
    const QString path = m_model->pathOf(currentIndex());
    if (path.isEmpty() || path.endsWith(QLatin1Char('/')))
        return path;
    return path + QLatin1Char('/');
}

bool FolderTree::setSelectedPath(const QString &path)
{
    const QModelIndex index = m_model->indexForPath(path);
    if (!index.isValid())
        return false;
    m_quiet = true;
    for (QModelIndex above = index.parent(); above.isValid(); above = above.parent())
        expand(above);
    setCurrentIndex(index);
    scrollTo(index);
    m_quiet = false;
    return true;
}

void FolderTree::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    QTreeView::currentChanged(current, previous);
    // A click raises event 9 when the button comes up; keys raise event 12 at once.
    if (!m_quiet && !m_byMouse && current.isValid())
        Q_EMIT event12(current);
}

void FolderTree::mousePressEvent(QMouseEvent *event)
{
    m_byMouse = true;
    QTreeView::mousePressEvent(event);
    m_byMouse = false;
}

void FolderTree::showEvent(QShowEvent *event)
{
    QTreeView::showEvent(event);
    if (!m_readyRaised) {
        m_readyRaised = true;
        QTimer::singleShot(0, this, &FolderTree::event24);
    }
}

} // namespace qmt
