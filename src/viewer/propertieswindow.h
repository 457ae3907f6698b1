#pragma once

#include "components/pictureinfo.h"

#include <QDialog>

#include <optional>

class QFormLayout;
class QLabel;

namespace qmt {

// The "Properties" window of the viewer: the shown picture's file, its pixels and the metadata
// its camera wrote, one fact a row. A GPS position comes with a link that opens a map of the
// place in the web browser. The window stays open beside the viewer and shows whatever it is
// given next.
class PropertiesWindow : public QDialog
{
    Q_OBJECT

public:
    explicit PropertiesWindow(QWidget *parent = nullptr);

    void showInfo(const PictureInfo &info);
    const PictureInfo &info() const { return m_info; }
    // The text shown beside a field's name; "" when the window has no such row.
    QString shownValue(const QString &key) const;
    // The "Show on map" link, or nullptr when the picture has no position.
    QLabel *mapLink() const { return m_mapLink; }

private:
    void openMap();

    QFormLayout *m_form = nullptr;
    QLabel *m_mapLink = nullptr;
    PictureInfo m_info;
};

} // namespace qmt
