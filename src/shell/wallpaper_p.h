#pragma once

#include <QEventLoop>
#include <QObject>
#include <QVariantMap>

namespace qmt {

// Waits for the portal's answer to one request.
class PortalResponse : public QObject
{
    Q_OBJECT
public:
    QEventLoop loop;
    bool answered = false;
    uint code = 2;

public Q_SLOTS:
    void onResponse(uint response, const QVariantMap &)
    {
        answered = true;
        code = response;
        loop.quit();
    }
};

} // namespace qmt
