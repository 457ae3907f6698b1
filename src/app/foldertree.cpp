#include "app/foldertree.h"

#include "app/foldertreemodel.h"

#include <QHeaderView>
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
    connect(this, &QTreeView::expanded, this, [this](const QModelIndex &index) {
        if (!m_quiet)
            Q_EMIT event20(index);
    });
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
