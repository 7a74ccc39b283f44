// SPDX-License-Identifier: GPL-3.0-or-later
#include "fileopening.h"

#include "audiofile.h"
#include "doubtfulmark.h"
#include "inputcontent.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressDialog>
#include <QStringDecoder>
#include <QWidget>
#include <QtConcurrent/QtConcurrentRun>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tovrin3 {

namespace {

// A beacon text holds a line of about 40 bytes per frame; a file beyond this is not one.
constexpr qint64 MaxBeaconTextBytes = 16 * 1024 * 1024;
constexpr int ProgressSteps = 1000;

const QString FileFilters = QStringLiteral(
    "Beacon texts and recordings (*.txt *.wav *.flac *.ogg *.oga *.opus);;"
    "Beacon texts (*.txt);;Recordings (*.wav *.flac *.ogg *.oga *.opus);;All files (*)");

QString fileName(const QByteArray &path)
{
    return QDir::toNativeSeparators(QFile::decodeName(path));
}

// Opens the file by the bytes of its name; false with `error` set to the reason when it cannot.
bool openByName(const QByteArray &path, QFile &file, QString &error)
{
    // A name cut at a NUL byte would name another file.
    if (path.isEmpty() || path.contains('\0')) {
        error = QString::fromLocal8Bit(std::strerror(ENOENT));
        return false;
    }
    const int descriptor = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (!file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(descriptor);
        error = file.errorString();
        return false;
    }
    return true;
}

// A regular file whose first bytes are those of a recording, as tovrin3-decode tells it; what is
// no regular file (a pipe) is read as text, since the recording is opened again by its name.
bool holdsRecording(QFile &file)
{
    struct stat status
    {
    };
    if (::fstat(file.handle(), &status) != 0 || !S_ISREG(status.st_mode))
        return false;
    return inputContent(file.peek(TextCheckSize)) == InputContent::Recording;
}

QStringList localFiles(const QMimeData *mimeData)
{
    QStringList paths;
    if (!mimeData || !mimeData->hasUrls())
        return paths;
    for (const QUrl &url : mimeData->urls()) {
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    }
    return paths;
}

QString joinedLines(const std::vector<morse::CopiedLine> &lines)
{
    QStringList texts;
    texts.reserve(static_cast<qsizetype>(lines.size()));
    for (const morse::CopiedLine &line : lines)
        texts.append(copiedLineText(line.text, line.doubtful, line.frameConfidence));
    return texts.join(QLatin1Char('\n'));
}

} // namespace

std::optional<QString> readBeaconText(const QString &path, QString &error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString();
        return std::nullopt;
    }
    return readBeaconText(file, error);
}

std::optional<QString> readBeaconText(QFile &file, QString &error)
{
    if (file.size() > MaxBeaconTextBytes) {
        error = QStringLiteral("it is too large for a beacon text (more than %1 MiB)")
                    .arg(MaxBeaconTextBytes / (1024 * 1024));
        return std::nullopt;
    }
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        error = file.errorString();
        return std::nullopt;
    }
    // UTF-16 as a byte-order mark tells it (a Windows editor's "Unicode"), as tovrin3-decode reads
    // it; else UTF-8.
    const bool utf16 = inputContent(content.first(std::min(content.size(), TextCheckSize))) ==
                       InputContent::Utf16Text;
    QStringDecoder decoder(utf16 ? QStringDecoder::Utf16 : QStringDecoder::Utf8);
    QString text = decoder.decode(content);
    if (decoder.hasError() || text.contains(QChar(0))) {
        error = QStringLiteral("it is neither UTF-8 text nor a recording this program reads");
        return std::nullopt;
    }
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

FileOpener::FileOpener(QWidget *window, Paste paste)
    : QObject(window), m_window(window), m_paste(std::move(paste))
{
    setObjectName(QStringLiteral("fileOpener"));
    m_dialogs.chooseFiles = [this] {
        return QFileDialog::getOpenFileNames(m_window, QStringLiteral("Open"), QString(),
                                             FileFilters);
    };
    m_dialogs.reportFailure = [this](const QString &message) {
        QMessageBox::warning(m_window, QStringLiteral("Open"), message);
    };
}

// A copy still running when the window goes is cancelled and waited for: it must not outlive
// the file name and watcher it reports to.
FileOpener::~FileOpener()
{
    if (m_recording) {
        m_recording->disconnect(this);
        m_recording->cancel();
        m_recording->waitForFinished();
    }
}

void FileOpener::setDialogs(Dialogs dialogs)
{
    m_dialogs = std::move(dialogs);
}

void FileOpener::chooseAndOpen()
{
    openFiles(m_dialogs.chooseFiles());
}

void FileOpener::openFiles(const QStringList &paths)
{
    QByteArrayList localPaths;
    for (const QString &path : paths)
        localPaths.append(QFile::encodeName(path));
    openLocalFiles(localPaths);
}

void FileOpener::openLocalFiles(const QByteArrayList &localPaths)
{
    if (localPaths.isEmpty())
        return;
    m_pending.append(localPaths);
    if (!isBusy())
        openNext();
}

bool FileOpener::isBusy() const
{
    return m_recording != nullptr;
}

void FileOpener::acceptDropsOn(const QList<QWidget *> &widgets)
{
    for (QWidget *widget : widgets) {
        widget->setAcceptDrops(true);
        widget->installEventFilter(this);
    }
}

bool FileOpener::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto *drag = static_cast<QDragMoveEvent *>(event);
        if (localFiles(drag->mimeData()).isEmpty())
            break;
        drag->acceptProposedAction();
        return true;
    }
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        const QStringList paths = localFiles(drop->mimeData());
        if (paths.isEmpty())
            break;
        drop->acceptProposedAction();
        openFiles(paths);
        return true;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

// Texts are pasted at once; a recording holds the queue until its copy ends.
void FileOpener::openNext()
{
    while (!m_pending.isEmpty()) {
        const QByteArray path = m_pending.takeFirst();
        QFile file;
        QString error;
        if (!openByName(path, file, error)) {
            m_dialogs.reportFailure(
                QStringLiteral("%1 could not be opened: %2").arg(fileName(path), error));
            continue;
        }
        if (holdsRecording(file)) {
            startRecording(path);
            return;
        }
        openText(file, path);
    }
    emit allOpened();
}

void FileOpener::openText(QFile &file, const QByteArray &path)
{
    QString error;
    const std::optional<QString> text = readBeaconText(file, error);
    if (!text) {
        m_dialogs.reportFailure(
            QStringLiteral("%1 could not be opened: %2").arg(fileName(path), error));
        return;
    }
    m_paste(*text);
}

void FileOpener::startRecording(const QByteArray &path)
{
    m_recordingPath = path;
    m_progress = new QProgressDialog(
        QStringLiteral("Copying %1 ...").arg(QFileInfo(fileName(path)).fileName()),
        QStringLiteral("Cancel"), 0, ProgressSteps, m_window);
    m_progress->setObjectName(QStringLiteral("copyProgress"));
    m_progress->setWindowTitle(QStringLiteral("Open"));
    m_progress->setWindowModality(Qt::WindowModal);
    m_progress->setMinimumDuration(500);
    m_progress->setAutoReset(false);
    m_progress->setAutoClose(false);

    m_recording = new QFutureWatcher<morse::AudioFileCopy>(this);
    connect(m_recording, &QFutureWatcherBase::progressValueChanged, m_progress,
            &QProgressDialog::setValue);
    connect(m_recording, &QFutureWatcherBase::finished, this, &FileOpener::finishRecording);
    connect(m_progress, &QProgressDialog::canceled, m_recording, &QFutureWatcherBase::cancel);
    m_recording->setFuture(QtConcurrent::run([path](QPromise<morse::AudioFileCopy> &promise) {
        promise.setProgressRange(0, ProgressSteps);
        promise.addResult(morse::copyAudioFile(path, [&promise](double fraction) {
            promise.setProgressValue(static_cast<int>(fraction * ProgressSteps));
            return !promise.isCanceled();
        }));
    }));
}

// The copied lines go in as one paste, those copied before damage in the file too, ahead of the
// report of the damage: a recorder that failed at the end of a pass must not cost the pass.
// Cancelling leaves the text as it was and drops the files still waiting.
void FileOpener::finishRecording()
{
    const bool cancelled = m_recording->isCanceled() || (m_progress && m_progress->wasCanceled());
    std::optional<morse::AudioFileCopy> copy;
    if (!cancelled && m_recording->future().resultCount() > 0)
        copy = m_recording->result();
    m_recording->disconnect();
    if (m_progress)
        m_progress->disconnect(m_recording);
    m_recording->deleteLater();
    m_recording = nullptr;
    closeProgress();
    if (cancelled)
        m_pending.clear();

    if (copy && !copy->cancelled) {
        if (!copy->lines.empty()) {
            emit recordingCopied(QFile::decodeName(m_recordingPath), copy->lines);
            m_paste(joinedLines(copy->lines));
        }
        if (!copy->error.isEmpty())
            m_dialogs.reportFailure(QStringLiteral("%1 could not be read: %2")
                                        .arg(fileName(m_recordingPath), copy->error));
        else if (copy->lines.empty())
            m_dialogs.reportFailure(
                QStringLiteral("No Morse code found in %1").arg(fileName(m_recordingPath)));
    }
    openNext();
}

// The dialog goes from the screen at once, so that no message comes up under it, and its own
// timer can no longer show it; it is deleted later, as this may run inside its own event
// processing.
void FileOpener::closeProgress()
{
    if (!m_progress)
        return;
    m_progress->reset();
    m_progress->hide();
    m_progress->deleteLater();
    m_progress = nullptr;
}

} // namespace tovrin3
