#include "app/x11clients.h"

#ifdef QMT_HAVE_XCB
#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#endif

namespace qmt {

#ifdef QMT_HAVE_XCB
namespace {

struct FreeReply {
    void operator()(void *p) const { std::free(p); }
};

xcb_atom_t atom(xcb_connection_t *c, const char *name)
{
    const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(c, 1, uint16_t(std::strlen(name)), name);
    std::unique_ptr<xcb_intern_atom_reply_t, FreeReply> reply(
        xcb_intern_atom_reply(c, cookie, nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// A property's bytes, at most maxLength 32-bit units of it.
QByteArray property(xcb_connection_t *c, xcb_window_t window, xcb_atom_t name, xcb_atom_t type,
                    uint32_t maxLength)
{
    if (name == XCB_ATOM_NONE)
        return {};
    const xcb_get_property_cookie_t cookie =
        xcb_get_property(c, 0, window, name, type, 0, maxLength);
    std::unique_ptr<xcb_get_property_reply_t, FreeReply> reply(
        xcb_get_property_reply(c, cookie, nullptr));
    if (!reply || reply->type == XCB_ATOM_NONE)
        return {};
    const int length = xcb_get_property_value_length(reply.get());
    if (length <= 0)
        return {};
    return QByteArray(static_cast<const char *>(xcb_get_property_value(reply.get())), length);
}

} // namespace

std::optional<WId> findX11Client(const QString &text)
{
    auto *x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t *c = x11 ? x11->connection() : nullptr;
    if (!c)
        return std::nullopt;
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    if (!screen)
        return std::nullopt;
    // Titles are read whole but only their first 255 characters count.
    constexpr uint32_t kTitleUnits = 1024;
    constexpr uint32_t kMaxClients = 65536;
    const QByteArray list = property(c, screen->root, atom(c, "_NET_CLIENT_LIST"),
                                     XCB_ATOM_WINDOW, kMaxClients);
    if (list.isEmpty())
        return std::nullopt;
    const xcb_atom_t netName = atom(c, "_NET_WM_NAME");
    const xcb_atom_t utf8 = atom(c, "UTF8_STRING");
    const auto *windows = reinterpret_cast<const xcb_window_t *>(list.constData());
    const qsizetype count = list.size() / qsizetype(sizeof(xcb_window_t));
    for (qsizetype i = 0; i < count; ++i) {
        QString title = QString::fromUtf8(property(c, windows[i], netName, utf8, kTitleUnits));
        if (title.isEmpty())
            title = QString::fromLatin1(
                property(c, windows[i], XCB_ATOM_WM_NAME, XCB_ATOM_STRING, kTitleUnits));
        if (title.left(255).contains(text, Qt::CaseSensitive))
            return WId(windows[i]);
    }
    return WId(0);
}

#else

std::optional<WId> findX11Client(const QString &) { return std::nullopt; }

#endif

} // namespace qmt
