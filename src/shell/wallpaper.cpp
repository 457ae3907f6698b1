#include "shell/wallpaper.h"

#include "components/engine/imagedocument.h"
#include "components/engine/imageio.h"
#include "components/engine/imageview.h"
#include "components/launcher.h"
#include "components/prompts.h"
#include "shell/modmain.h"
#include "shell/safewrite.h"
#include "shell/wallpaper_p.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTimer>
#include <QUrl>

namespace qmt {
namespace {

constexpr int kCommandTimeoutMs = 15000;
constexpr int kPortalTimeoutMs = 20000;

bool viaPortal(const QString &file)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QFile picture(file);
    if (!picture.open(QIODevice::ReadOnly))
        return false;

    // The request object's path is known before the call, so its answer cannot be missed.
    const QString token = QStringLiteral("pictavo%1").arg(QRandomGenerator::global()->generate());
    QString sender = bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString requestPath =
        QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
    PortalResponse response;
    bus.connect(QStringLiteral("org.freedesktop.portal.Desktop"), requestPath,
                QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"),
                &response, SLOT(onResponse(uint, QVariantMap)));

    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.portal.Desktop"),
        QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.Wallpaper"), QStringLiteral("SetWallpaperFile"));
    QVariantMap options;
    options.insert(QStringLiteral("handle_token"), token);
    options.insert(QStringLiteral("show-preview"), false);
    options.insert(QStringLiteral("set-on"), QStringLiteral("both"));
    call << QString() << QVariant::fromValue(QDBusUnixFileDescriptor(picture.handle())) << options;
    const QDBusMessage reply = bus.call(call, QDBus::Block, kCommandTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        bus.disconnect(QStringLiteral("org.freedesktop.portal.Desktop"), requestPath,
                       QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"),
                       &response, SLOT(onResponse(uint, QVariantMap)));
        return false;
    }
    if (!response.answered) {
        QTimer::singleShot(kPortalTimeoutMs, &response.loop, &QEventLoop::quit);
        response.loop.exec();
    }
    bus.disconnect(QStringLiteral("org.freedesktop.portal.Desktop"), requestPath,
                   QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"),
                   &response, SLOT(onResponse(uint, QVariantMap)));
    return response.answered && response.code == 0;
}

bool run(const QString &program, const QStringList &arguments, QString *output = nullptr)
{
    AbstractLauncher &l = launcher();
    if (!l.hasProgram(program))
        return false;
    const AbstractLauncher::RunResult result = l.run(program, arguments, kCommandTimeoutMs);
    if (output)
        *output = result.output;
    return result.started && result.exitCode == 0;
}

bool viaGSettings(const QString &schema, const QStringList &keys, const QString &value)
{
    bool ok =
        run(QStringLiteral("gsettings"), {QStringLiteral("set"), schema, keys.first(), value});
    if (!ok)
        return false;
    // Further keys (the dark-style picture) are missing on older desktops; they do not decide.
    for (qsizetype i = 1; i < keys.size(); ++i)
        run(QStringLiteral("gsettings"), {QStringLiteral("set"), schema, keys.at(i), value});
    return true;
}

bool viaXfconf(const QString &file)
{
    const QString channel = QStringLiteral("xfce4-desktop");
    QString listing;
    if (!run(QStringLiteral("xfconf-query"), {QStringLiteral("-c"), channel, QStringLiteral("-l")},
             &listing))
        return false;
    QStringList properties;
    for (const QString &line : listing.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QString property = line.trimmed();
        if (property.startsWith(QLatin1String("/backdrop/")) &&
            (property.endsWith(QLatin1String("/last-image")) ||
             property.endsWith(QLatin1String("/image-path"))))
            properties.append(property);
    }
    if (properties.isEmpty()) {
        return run(QStringLiteral("xfconf-query"),
                   {QStringLiteral("-c"), channel, QStringLiteral("-p"),
                    QStringLiteral("/backdrop/screen0/monitor0/workspace0/last-image"),
                    QStringLiteral("-n"), QStringLiteral("-t"), QStringLiteral("string"),
                    QStringLiteral("-s"), file});
    }
    bool all = true;
    for (const QString &property : properties)
        all = run(QStringLiteral("xfconf-query"),
                  {QStringLiteral("-c"), channel, QStringLiteral("-p"), property,
                   QStringLiteral("-s"), file}) &&
              all;
    return all;
}

// The folder holds nothing but wallpaper copies; each picture file in it other than the copy
// in use is one set earlier. Links and anything that is not a picture are left alone.
void removeEarlierCopies(const QString &folder, const QString &current)
{
    const QFileInfo kept(current);
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks);
    for (const QFileInfo &entry : entries) {
        if (entry.fileName() == kept.fileName() || !IsImageFile(entry.fileName()))
            continue;
        QFile::remove(entry.absoluteFilePath());
    }
}

bool desktopIs(const QStringList &desktops, std::initializer_list<const char *> names)
{
    for (const QString &desktop : desktops)
        for (const char *name : names)
            if (desktop.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
                return true;
    return false;
}

} // namespace

bool applyDesktopWallpaper(const QString &file, QStringList *tried)
{
    auto note = [tried](const QString &what) {
        if (tried)
            tried->append(what);
    };
    const QString uri = QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded);

    note(QStringLiteral("desktop portal"));
    if (viaPortal(file))
        return true;

    const QStringList desktops =
        qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    bool done = false;
    if (desktopIs(desktops, {"X-Cinnamon", "Cinnamon"})) {
        note(QStringLiteral("Cinnamon (gsettings)"));
        done = viaGSettings(QStringLiteral("org.cinnamon.desktop.background"),
                            {QStringLiteral("picture-uri")}, uri);
    } else if (desktopIs(desktops, {"MATE"})) {
        note(QStringLiteral("MATE (gsettings)"));
        done = viaGSettings(QStringLiteral("org.mate.background"),
                            {QStringLiteral("picture-filename")}, file);
    } else if (desktopIs(desktops, {"GNOME", "GNOME-Classic", "GNOME-Flashback", "Unity", "Budgie",
                                    "Pantheon", "ubuntu"})) {
        note(QStringLiteral("GNOME (gsettings)"));
        done =
            viaGSettings(QStringLiteral("org.gnome.desktop.background"),
                         {QStringLiteral("picture-uri"), QStringLiteral("picture-uri-dark")}, uri);
    } else if (desktopIs(desktops, {"KDE"})) {
        note(QStringLiteral("KDE Plasma (plasma-apply-wallpaperimage)"));
        done = run(QStringLiteral("plasma-apply-wallpaperimage"), {file});
    } else if (desktopIs(desktops, {"XFCE"})) {
        note(QStringLiteral("Xfce (xfconf-query)"));
        done = viaXfconf(file);
    } else if (desktopIs(desktops, {"LXQt"})) {
        note(QStringLiteral("LXQt (pcmanfm-qt)"));
        done = run(QStringLiteral("pcmanfm-qt"), {QStringLiteral("--set-wallpaper=") + file});
    } else if (desktopIs(desktops, {"LXDE"})) {
        note(QStringLiteral("LXDE (pcmanfm)"));
        done = run(QStringLiteral("pcmanfm"), {QStringLiteral("--set-wallpaper=") + file});
    } else if (desktopIs(desktops, {"sway"}) || qEnvironmentVariableIsSet("SWAYSOCK")) {
        note(QStringLiteral("sway (swaymsg)"));
        done = run(QStringLiteral("swaymsg"), {QStringLiteral("output"), QStringLiteral("*"),
                                               QStringLiteral("bg"), file, QStringLiteral("fill")});
    }
    if (done)
        return true;

    if (!qEnvironmentVariableIsEmpty("DISPLAY")) {
        note(QStringLiteral("feh"));
        if (run(QStringLiteral("feh"), {QStringLiteral("--bg-fill"), file}))
            return true;
        note(QStringLiteral("xwallpaper"));
        if (run(QStringLiteral("xwallpaper"), {QStringLiteral("--zoom"), file}))
            return true;
    }
    return false;
}

void SetWallpaper(ImageView *ImgX)
{
    if (ImgX)
        SetWallpaper(ImgX->document());
}

QString wallpaperCopyName(const QString &pictureName)
{
    const qsizetype dot = pictureName.lastIndexOf(u'.');
    const QString base = dot > 0 ? pictureName.left(dot) : pictureName;
    return base + QStringLiteral(".png");
}

void SetWallpaper(const ImageDocument *image)
{
    if (!image || image->PageCount() == 0)
        return;
    const QString name = QFileInfo(image->ImageFileName()).fileName();
    if (name.isEmpty()) {
        prompts().message(QStringLiteral("This picture has no file name; save it first to make "
                                         "it the wallpaper."),
                          PromptIcon::Exclamation, PromptButtons::Ok);
        return;
    }
    const QString folder = GetWindowsFolder();
    const QString target = folder + wallpaperCopyName(name);

    const int attributes = fileAttributes(target);
    if (attributes == 34 || attributes == 6) {
        prompts().message(
            QStringLiteral("this picture is hidden or system file.we can not put it as wallpaper"),
            PromptIcon::None, PromptButtons::Ok);
        return;
    }

    // The picture as it is shown (its current page), lossless, in a format every desktop's
    // wallpaper setter reads.
    const QImage picture = image->GetPicture();
    const Status saved = writeFileSafely(target, [&picture](QIODevice *device) {
        return writeImageDevice({picture}, device, FormatPng);
    });
    if (!saved) {
        prompts().message(QStringLiteral("The wallpaper copy %1 could not be written: %2")
                              .arg(target, saved.error()),
                          PromptIcon::Exclamation, PromptButtons::Ok);
        return;
    }

    QStringList tried;
    if (!applyDesktopWallpaper(target, &tried)) {
        prompts().message(
            QStringLiteral("The picture was saved as %1, but the desktop wallpaper could not be "
                           "changed: no way of setting it worked on this desktop (tried: %2).")
                .arg(target, tried.join(QStringLiteral(", "))),
            PromptIcon::Exclamation, PromptButtons::Ok);
        return;
    }
    // The desktop shows the new copy now: the earlier ones are of no more use.
    removeEarlierCopies(folder, target);
}

} // namespace qmt
