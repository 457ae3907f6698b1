#include "viewer/viewerformat.h"

#include "components/nativefile.h"
#include "components/programversion.h"
#include "shell/modmain.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cfenv>
#include <cmath>

namespace qmt::viewer {

const char *const kOpenFilter =
    "All "
    "Images|*.jpg;*.jpeg;*.gif;*.bmp;*.dib;*.png;*.psd;*.tif;*.pcx;*.tga;*.wbmp;*.wmf;*.ico;*.cur;"
    "*.emf;*.tla;*.webp;*.avif;*.heic;*.heif;*.jxl|Joint Photographic Experts Group  "
    "<JPG,JPEG>|*.jpg;*.jpeg|Graphics Interchange "
    "Format  "
    "<GIF>|*.gif|Windows Bitmap  <BMP,DIB>|*.bmp;*.dib|Portable Network Graphics  "
    "<PNG>|*.png|Photoshop  "
    "<PSD>|*.psd|Tagged Image File  <TIF>|*.tif|ZSoft PaintBrush  <PCX>|*.pcx|Truevision Targa  "
    "<TGA>|*.tga|Wireless Bitmap  <WBMP>|*.wbmp|Windows Meta File  <WMF>|*.wmf|ICO Files  "
    "<ICO>|*.ICO|Windows Enhanced Meta File <EMF>|*.emf|All Files|*.*";

const char *const kSaveFilter =
    "Joint Photographic Experts Group  <JPG>|*.jpg|Portable Network Graphics  "
    "<PNG>|*.png|Photoshop  "
    "<PSD>|*.psd|Tagged Image File  <TIF>|*.tif|ZSoft PaintBrush  <PCX>|*.pcx|Truevision Targa  "
    "<TGA>|*.tga|Wireless Bitmap  <WBMP>|*.wbmp|Windows Bitmap  <BMP>|*.bmp|Windows Metafile  "
    "<WMF>|*.wmf|Windows Enhanced Metafile  <EMF>|*.emf";

QStringList qtFilters(const QString &pipeFilter)
{
    const QStringList parts = pipeFilter.split(QLatin1Char('|'));
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts.at(i + 1).split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString &pattern : patterns)
            pattern = pattern.trimmed();
        filters.append(QStringLiteral("%1 (%2)").arg(parts.at(i), patterns.join(QLatin1Char(' '))));
    }
    return filters;
}

QString FormatSize(double bytes)
{
    // The size is handled in single precision, as the status bar always did.
    const float value = float(bytes);
    if (value < 1024.0f)
        return QStringLiteral("%1 Bytes").arg(qint64(std::llround(value)));
    const double scaled = value < 1048576.0f ? double(value) / 1024.0 : double(value) / 1048576.0;
    const QString unit = value < 1048576.0f ? QStringLiteral(" KB") : QStringLiteral(" MB");
    // At most one decimal, rounded; the point is always written ("2." for a whole number).
    const qint64 tenths = std::llround(scaled * 10.0);
    const QString digits = tenths % 10 == 0
                               ? QStringLiteral("%1.").arg(tenths / 10)
                               : QStringLiteral("%1.%2").arg(tenths / 10).arg(tenths % 10);
    return digits + unit;
}

int saveFilterPositionForFormat(int formatCode)
{
    for (int position = 1; position <= 10; ++position) {
        int code = -1;
        GetSaveFormat(position, code);
        if (code == formatCode)
            return position;
    }
    return 0;
}

QString saveFormatForPosition(int position, int &formatCode)
{
    return GetSaveFormat(position, formatCode);
}

bool isViewableImageFile(const QString &path)
{
    return IsImageFile(path);
}

bool takesPicturePath(const QString &path)
{
    return QStringLiteral("ico cur dib").contains(QFileInfo(path).suffix().toLower());
}

bool settingToBool(const QString &text, bool defaultValue)
{
    const QString t = text.trimmed();
    if (t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return true;
    if (t.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
        return false;
    bool ok = false;
    const double number = t.toDouble(&ok);
    if (!ok || !std::isfinite(number))
        return defaultValue;
    return number != 0.0;
}

int delayFromSetting(const QString &text, int defaultValue)
{
    bool ok = false;
    const double number = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(number))
        return defaultValue;
    const double rounded = std::nearbyint(number);
    if (rounded < 0.0 || rounded > double(kMaxTimerInterval))
        return defaultValue;
    return int(rounded);
}

std::optional<qint64> delayFromAnswer(const QString &text)
{
    bool ok = false;
    const double number = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(number) || std::fabs(number) > 1e15)
        return std::nullopt;
    // Taken as a single-precision number and rounded to the nearest whole, halves to even.
    const float single = float(number);
    const int previous = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double rounded = std::nearbyint(double(single));
    std::fesetround(previous);
    return qint64(rounded);
}

QString windowCaption(const QString &path)
{
    return displayName(QFileInfo(path).fileName()) + QStringLiteral("- Pictavo ") +
           programMajorMinor();
}

} // namespace qmt::viewer
