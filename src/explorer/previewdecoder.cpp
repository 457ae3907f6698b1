#include "explorer/previewdecoder.h"

#include "components/codecs/decodebudget.h"
#include "components/codecs/iconpages.h"
#include "components/nativefile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QThreadPool>

#include <atomic>
#include <mutex>
#include <optional>

namespace qmt {
namespace {

// Types the platform's picture loader decodes for the preview.
constexpr auto kPlatformLoaderTypes = "ico cur dib";

QString extensionOf(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.mid(dot + 1).toLower();
}

bool withinEngineLimits(const QSize &size)
{
    return size.width() > 0 && size.height() > 0 && size.width() <= kMaxImageSide &&
           size.height() <= kMaxImageSide &&
           qint64(size.width()) * size.height() <= kMaxImagePixels;
}

// What the platform loader's decode of the file will hold, taken from the headers before it
// allocates: the first entry of an icon or cursor (the one it shows), else the picture's size.
// nullopt when the size is unknown or beyond the engine's limits: the loader is not trusted
// with such a file.
std::optional<qint64> platformDecodeBytes(QFile &file, QImageReader &reader)
{
    const QByteArray format = reader.format();
    if (format == "ico" || format == "cur") {
        const QList<IconEntry> entries = iconPageOrder(&file);
        for (const IconEntry &entry : entries) {
            if (entry.index == 0)
                return qint64(entry.size.width()) * entry.size.height() * 4 + entry.bytes;
        }
        return std::nullopt;
    }
    const QSize size = reader.size();
    if (!withinEngineLimits(size))
        return std::nullopt;
    return qint64(size.width()) * size.height() * 4;
}

// Icons, cursors and bitmaps through the platform's picture loader; null when it cannot read
// the file.
QImage decodeWithPlatformLoader(const QString &path)
{
    QFile file;
    if (!openRegularFile(file, path))
        return {}; // not a picture file (missing, a pipe, a device)
    QImageReader reader(&file);
    reader.setDecideFormatFromContent(true);
    const std::optional<qint64> bytes = platformDecodeBytes(file, reader);
    if (!bytes)
        return {};
    DecodeBudgetScope::reserve(*bytes);
    return reader.read();
}

} // namespace

struct PreviewDecoder::Shared {
    std::mutex mutex;
    PreviewDecoder *receiver = nullptr; // null once the decoder is gone
    // The generation of the latest request; 0 when none counts.
    std::atomic<quint64> latest{0};
};

struct PreviewDecoder::Job {
    QString path;
    quint64 generation = 0;
    // Set by the worker before it hands the job back; empty when it was skipped.
    std::optional<Result<PreviewPicture>> result;
};

PreviewDecoder::PreviewDecoder(QObject *parent)
    : QObject(parent), m_shared(std::make_shared<Shared>())
{
    m_shared->receiver = this;
}

PreviewDecoder::~PreviewDecoder()
{
    // A worker still decoding keeps the job and the shared state alive; from here on its result
    // has nobody to go to, and jobs not started yet are skipped.
    std::lock_guard lock(m_shared->mutex);
    m_shared->receiver = nullptr;
    m_shared->latest = 0;
}

QThreadPool &PreviewDecoder::workers()
{
    // Owned by the application object, which waits for them as the program ends; a window that
    // goes away does not wait for a decode.
    static QThreadPool *pool = [] {
        auto *threads = new QThreadPool(QCoreApplication::instance());
        threads->setMaxThreadCount(kMaxRunning);
        return threads;
    }();
    return *pool;
}

bool PreviewDecoder::usesPlatformLoader(const QString &path)
{
    const QString extension = extensionOf(path);
    return !extension.isEmpty() &&
           QString::fromLatin1(kPlatformLoaderTypes).split(QLatin1Char(' ')).contains(extension);
}

void PreviewDecoder::waitForIdle()
{
    workers().waitForDone();
}

Result<PreviewPicture> PreviewDecoder::decode(const QString &path)
{
    PreviewPicture picture;
    picture.path = path;
    if (usesPlatformLoader(path)) {
        picture.fromPlatformLoader = true;
        QImage image = decodeWithPlatformLoader(path);
        if (image.isNull()) {
            // A bitmap without its file header, or an icon the loader is not trusted with, goes
            // through the engine's own reader.
            ReadOptions options;
            options.firstPageOnly = true;
            Result<DecodedImage> decoded = readImageFile(path, options);
            if (!decoded)
                return Result<PreviewPicture>::fail(decoded.error());
            if (!decoded->pages.isEmpty())
                image = std::move(decoded->pages.first());
        }
        if (image.isNull())
            return Result<PreviewPicture>::fail(QStringLiteral("The picture is empty."));
        picture.decoded.fullSize = image.size();
        picture.decoded.pages.append(std::move(image));
        return picture;
    }
    Result<DecodedImage> decoded = readImageFile(path);
    if (!decoded)
        return Result<PreviewPicture>::fail(decoded.error());
    if (decoded->pages.isEmpty())
        return Result<PreviewPicture>::fail(QStringLiteral("The picture is empty."));
    picture.decoded = std::move(*decoded);
    return picture;
}

void PreviewDecoder::request(const QString &path)
{
    // The same item reported again while it decodes: the decode under way is the one asked for.
    if (m_pending && path == m_latestPath)
        return;
    m_shared->latest = ++m_generation;
    m_latestPath = path;
    m_pending = true;
    auto job = std::make_shared<Job>();
    job->path = path;
    job->generation = m_generation;
    // The request waiting for a worker, if any, is replaced: it will never be shown.
    m_waiting.reset();
    if (m_running < kMaxRunning)
        start(job);
    else
        m_waiting = std::move(job);
}

void PreviewDecoder::cancel()
{
    m_shared->latest = ++m_generation;
    m_latestPath.clear();
    m_pending = false;
    m_waiting.reset();
}

void PreviewDecoder::start(const std::shared_ptr<Job> &job)
{
    ++m_running;
    // Hands the job back to the decoder, if it still exists, on its own thread.
    const auto handBack = [](const std::shared_ptr<Shared> &shared, const std::shared_ptr<Job> &job,
                             void (PreviewDecoder::*to)(const std::shared_ptr<Job> &)) {
        std::lock_guard lock(shared->mutex);
        if (PreviewDecoder *receiver = shared->receiver)
            QMetaObject::invokeMethod(
                receiver, [receiver, job, to] { (receiver->*to)(job); }, Qt::QueuedConnection);
    };
    workers().start([shared = m_shared, job, handBack] {
        if (shared->latest == job->generation) {
            handBack(shared, job, &PreviewDecoder::jobStarted);
            // Beside the thumbnail workers: a huge picture waits for the memory they hold, and
            // they wait for the memory it holds.
            const DecodeBudgetScope counted(&DecodeBudget::reducedDecodes());
            job->result = decode(job->path);
        }
        handBack(shared, job, &PreviewDecoder::jobEnded);
    });
}

void PreviewDecoder::jobStarted(const std::shared_ptr<Job> &job)
{
    Q_EMIT started(job->path);
}

void PreviewDecoder::jobEnded(const std::shared_ptr<Job> &job)
{
    --m_running;
    // The waiting request takes the worker before anything is shown: a receiver of the signals
    // below may already make the next request.
    if (m_waiting && m_running < kMaxRunning) {
        const std::shared_ptr<Job> next = std::move(m_waiting);
        m_waiting.reset();
        start(next);
    }
    if (job->generation != m_generation || !job->result)
        return; // skipped, or stale: a later request counts
    m_pending = false;
    Result<PreviewPicture> result = std::move(*job->result);
    job->result.reset();
    if (result)
        Q_EMIT ready(*result);
    else
        Q_EMIT failed(job->path, result.error());
}

} // namespace qmt
