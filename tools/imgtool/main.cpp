// qmt-imgtool: the engine's reading and writing on the command line.
//
//   qmt-imgtool info FILE
//       what the viewer's Properties window shows, one "key: value" a line: file name, folder,
//       size on disk, modification time, pixel size, bit depth (of the first page, as stored),
//       format, pages, then the camera's metadata the file holds.
//   qmt-imgtool decode FILE OUT.png [--page N] [--size W] [--time]
//       page N (from 0) as an 8-bit RGBA PNG, the other pages left undecoded; --size decodes at
//       a reduced size covering W x W where the format allows it; --time prints
//       "decode_ms=T cpu_ms=C" (reading and decoding only, wall and processor time). OUT "-"
//       writes nothing (for timing).
//   qmt-imgtool convert FILE OUT CODE
//       the first page saved with a save format code (1 JPEG ... 10 WBMP).
//
// On failure: one line "qmt-imgtool: FILE: reason" on stderr and exit status 1.

#include "components/engine/imageio.h"
#include "components/pictureinfo.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QStringList>

#include <cstdio>
#include <ctime>

namespace {

int failWith(const QString &file, const QString &reason)
{
    std::fprintf(stderr, "qmt-imgtool: %s: %s\n", qPrintable(file), qPrintable(reason));
    return 1;
}

int usage()
{
    std::fprintf(stderr, "usage: qmt-imgtool info FILE\n"
                         "       qmt-imgtool decode FILE OUT.png [--page N] [--size W] [--time]\n"
                         "       qmt-imgtool convert FILE OUT CODE\n");
    return 1;
}

bool parseNumber(const QString &text, int minimum, int *value)
{
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < minimum)
        return false;
    *value = v;
    return true;
}

int info(const QString &file)
{
    const qmt::Result<qmt::DecodedImage> decoded = qmt::readImageFile(file);
    if (!decoded)
        return failWith(file, decoded.error());
    qmt::PictureFacts facts;
    facts.pixelSize = decoded->pages.first().size();
    facts.bitsPerPixel = decoded->bitsPerPixel;
    facts.formatCode = decoded->formatCode;
    facts.pages = decoded->pageCount;
    std::fputs(qmt::describePicture(file, facts).toText().toUtf8().constData(), stdout);
    return 0;
}

int decode(const QStringList &args)
{
    const QString file = args.at(0);
    const QString out = args.at(1);
    int page = 0;
    int size = 0;
    bool timed = false;
    for (int i = 2; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--time")) {
            timed = true;
        } else if (args.at(i) == QLatin1String("--page") && i + 1 < args.size()) {
            if (!parseNumber(args.at(++i), 0, &page))
                return failWith(file, QStringLiteral("--page needs a page number from 0."));
        } else if (args.at(i) == QLatin1String("--size") && i + 1 < args.size()) {
            if (!parseNumber(args.at(++i), 1, &size))
                return failWith(file, QStringLiteral("--size needs a width of at least 1."));
        } else {
            return usage();
        }
    }
    qmt::ReadOptions options;
    options.page = page;
    options.firstPageOnly = true;
    if (size > 0)
        options.targetSize = QSize(size, size);

    // Wall time and processor time of the decode alone: on a busy machine the processor time is
    // the steadier figure.
    timespec cpuStart{}, cpuEnd{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpuStart);
    QElapsedTimer timer;
    timer.start();
    qmt::Result<qmt::DecodedImage> decoded = qmt::readImageFile(file, options);
    const qint64 nanoseconds = timer.nsecsElapsed();
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpuEnd);
    const double cpuMs = double(cpuEnd.tv_sec - cpuStart.tv_sec) * 1e3 +
                         double(cpuEnd.tv_nsec - cpuStart.tv_nsec) / 1e6;
    if (!decoded)
        return failWith(file, decoded.error());
    if (timed)
        std::printf("decode_ms=%.2f cpu_ms=%.2f\n", double(nanoseconds) / 1e6, cpuMs);
    if (out == QLatin1String("-"))
        return 0; // timing only: the picture is not written
    // Converted in place where the layout allows: a picture of the largest size accepted is not
    // held twice.
    QImage rgba = std::move(decoded->pages.first());
    decoded->pages.clear();
    rgba.convertTo(QImage::Format_RGBA8888);
    if (!rgba.save(out, "png"))
        return failWith(out, QStringLiteral("The PNG file cannot be written."));
    return 0;
}

int convert(const QStringList &args)
{
    const QString file = args.at(0);
    int code = 0;
    if (!parseNumber(args.at(2), 1, &code) || !qmt::isSaveFormat(code))
        return failWith(file,
                        QStringLiteral("%1 is not a save format code (1 to 10).").arg(args.at(2)));
    const qmt::Result<qmt::DecodedImage> decoded = qmt::readImageFile(file);
    if (!decoded)
        return failWith(file, decoded.error());
    const qmt::Status written = qmt::writeImageFile({decoded->pages.first()}, args.at(1), code);
    if (!written)
        return failWith(args.at(1), written.error());
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    // A GUI application without a window: metafiles draw text, which needs the font database.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty())
        return usage();
    const QString command = args.first();
    const QStringList rest = args.mid(1);
    if (command == QLatin1String("info") && rest.size() == 1)
        return info(rest.at(0));
    if (command == QLatin1String("decode") && rest.size() >= 2)
        return decode(rest);
    if (command == QLatin1String("convert") && rest.size() == 3)
        return convert(rest);
    return usage();
}
