// Save As, printing and copying of the shown image.
#include "viewer/frmviwer.h"

#include "components/engine/imagedocument.h"
#include "components/engine/imageio.h"
#include "components/prompts.h"
#include "viewer/viewerformat.h"
#include "viewer/viewerprint.h"

#include <QFileInfo>
#include <QPainter>
#include <QPrinter>
#include <QSaveFile>

namespace qmt {

namespace viewer {

QRectF printPlacement(const QSizeF &imageSize, const QRectF &printable, bool centre, bool fit)
{
    if (imageSize.isEmpty() || printable.isEmpty())
        return {};
    QSizeF size = imageSize;
    if (fit)
        size = imageSize.scaled(printable.size(), Qt::KeepAspectRatio);
    QPointF topLeft = printable.topLeft();
    if (centre || fit)
        topLeft = printable.center() - QPointF(size.width() / 2.0, size.height() / 2.0);
    return QRectF(topLeft, size);
}

} // namespace viewer

namespace {

// An image pixel is printed at the size of a pixel on a 96 DPI screen.
constexpr double kImageDpi = 96.0;

void reportFailure(const QString &what, const QString &why)
{
    prompts().message(why.isEmpty() ? what : QStringLiteral("%1\n%2").arg(what, why),
                      PromptIcon::Exclamation, PromptButtons::Ok);
}

} // namespace

void frmViwer::SaveAs()
{
    if (m_document->PageCount() == 0) {
        reportFailure(QStringLiteral("Save As failed: there is no image to save."), QString());
        return;
    }
    FileDialogRequest request;
    request.filters = viewer::qtFilters(QString::fromLatin1(viewer::kSaveFilter));
    // The shown file's format picks the file type; formats that cannot be saved keep the last one.
    if (const int position = viewer::saveFilterPositionForFormat(m_document->ImageFormatCode()))
        m_dialogFilterIndex = position;
    request.filterIndex = qBound(1, m_dialogFilterIndex, int(request.filters.size()));
    int unused = 0;
    request.defaultSuffix = viewer::saveFormatForPosition(request.filterIndex, unused);
    if (const QString current = m_document->ImageFileName(); !current.isEmpty()) {
        const QFileInfo info(current);
        request.directory = info.absolutePath();
        request.fileName = info.completeBaseName() + QLatin1Char('.') + request.defaultSuffix;
    }
    const std::optional<FileDialogResult> chosen = prompts().saveFile(request);
    if (!chosen || chosen->files.isEmpty())
        return;
    m_dialogFilterIndex = chosen->filterIndex;
    const QString path = chosen->files.first();
    // The format is the chosen file type's, whatever extension the name was given.
    int formatCode = 0;
    if (viewer::saveFormatForPosition(chosen->filterIndex, formatCode).isEmpty()) {
        reportFailure(QStringLiteral("%1 was not saved: no file type was chosen.").arg(path),
                      QString());
        return;
    }
    // Lossy formats change the scrambled pixels: the picture could never be decrypted again.
    if (m_document->isEncrypted() && (formatCode == FormatJpeg || formatCode == FormatWbmp) &&
        prompts().message(
            QStringLiteral("This picture is encrypted. Saved as %1 it could not be decrypted "
                           "afterwards; save it as PNG, BMP, TIF, TGA, PCX or PSD to keep it "
                           "decryptable.\n\nSave it as %1 anyway?")
                .arg(formatCode == FormatJpeg ? QStringLiteral("JPG") : QStringLiteral("WBMP")),
            PromptIcon::Exclamation, PromptButtons::OkCancel) != PromptAnswer::Ok)
        return;
    // Written beside the target and put in its place only when complete: a failed save leaves
    // any existing file as it was.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        reportFailure(QStringLiteral("%1 could not be saved.").arg(path), file.errorString());
        return;
    }
    const Status written = writeImageDevice({m_document->GetPicture()}, &file, formatCode);
    if (!written) {
        file.cancelWriting();
        reportFailure(QStringLiteral("%1 could not be saved.").arg(path), written.error());
        return;
    }
    if (!file.commit())
        reportFailure(QStringLiteral("%1 could not be saved.").arg(path), file.errorString());
}

void frmViwer::PrintImage(int placement)
{
    const int pageCount = m_document->PageCount();
    if (pageCount == 0) {
        reportFailure(QStringLiteral("Printing failed: there is no image to print."), QString());
        return;
    }
    QPrinter &device = printer();
    device.setFromTo(1, pageCount);
    if (!prompts().print(device, 1, pageCount))
        return;
    const bool centre = placement != 0;
    const bool fit = placement == 2;

    // Pages are decoded one at a time as they are printed (-1: the picture shown).
    struct Sheet {
        int page;
        bool centre;
        bool fit;
    };
    QList<Sheet> sheets;
    const QPrinter::PrintRange range = device.printRange();
    if (pageCount > 1 && range == QPrinter::AllPages) {
        for (int i = 0; i < pageCount; ++i)
            sheets.append({i, centre, fit});
    } else if (range == QPrinter::Selection) {
        sheets.append({-1, true, false});
    } else {
        int from = 1;
        int to = 1;
        if (range == QPrinter::PageRange && device.fromPage() > 0) {
            from = device.fromPage();
            to = qMax(from, device.toPage());
        } else if (range == QPrinter::AllPages) {
            to = pageCount;
        }
        from = qBound(1, from, pageCount);
        to = qBound(from, to, pageCount);
        for (int i = from - 1; i <= to - 1; ++i)
            sheets.append({i, centre, fit});
    }

    device.setDocName(QStringLiteral("Tessimo"));
    QPainter painter;
    if (!painter.begin(&device)) {
        reportFailure(QStringLiteral("Printing failed: the printer \"%1\" could not be started.")
                          .arg(device.printerName().isEmpty() ? device.outputFileName()
                                                              : device.printerName()),
                      QString());
        return;
    }
    const QRectF printable(QPointF(0, 0),
                           device.pageLayout().paintRectPixels(device.resolution()).size());
    const double scale = device.resolution() / kImageDpi;
    for (int i = 0; i < sheets.size(); ++i) {
        if (i > 0 && !device.newPage()) {
            painter.end();
            reportFailure(
                QStringLiteral("Printing failed: page %1 could not be started.").arg(i + 1),
                QString());
            return;
        }
        const Sheet &sheet = sheets.at(i);
        const Result<QImage> image = sheet.page < 0 ? Result<QImage>(m_document->GetPicture())
                                                    : m_document->fetchPage(sheet.page);
        if (!image) {
            painter.end();
            reportFailure(
                QStringLiteral("Printing failed: page %1 could not be read.").arg(sheet.page + 1),
                image.error());
            return;
        }
        const QRectF target = viewer::printPlacement(QSizeF(image->size()) * scale, printable,
                                                     sheet.centre, sheet.fit);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
        painter.drawImage(target, *image);
    }
    if (!painter.end())
        reportFailure(QStringLiteral("Printing failed: the print job could not be finished."),
                      QString());
}

void frmViwer::PageSetup()
{
    prompts().pageSetup(printer());
}

void frmViwer::CopyImage()
{
    const Status copied = m_document->CopyToClipboard();
    if (!copied)
        reportFailure(QStringLiteral("Copy Image failed."), copied.error());
}

} // namespace qmt
