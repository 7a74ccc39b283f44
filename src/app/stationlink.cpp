// SPDX-License-Identifier: GPL-3.0-or-later
#include "stationlink.h"

#include "audiofile.h"
#include "cwdemodulator.h"
#include "normalisation.h"
#include "sidsrequest.h"
#include "stationcommand.h"
#include "stationdialog.h"

#include <QFile>
#include <QFileInfo>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <span>

namespace tovrin3 {

namespace {

using namespace Qt::StringLiterals;

// A locked log holds the window no longer than this before the line is given up.
constexpr int BusyTimeoutMs = 1000;

// A frame's 18 characters go to the log and the servers as ASCII.
bool isLoggable(QStringView digits)
{
    return digits.size() == FrameLength && std::ranges::all_of(digits, [](QChar c) {
               return c.unicode() > 0x20 && c.unicode() < 0x7F;
           });
}

bool holdsLoggableFrame(const std::vector<morse::CopiedLine> &lines)
{
    QString cleaned;
    return std::ranges::any_of(lines, [&](const morse::CopiedLine &line) {
        normaliseLine(line.text, cleaned);
        return isLoggable(cleaned);
    });
}

// A recorder usually writes its file to the end of the pass: the time the file was last written
// less its length, to the second.
QDateTime suggestedStart(const QString &path)
{
    QDateTime end = QFileInfo(path).lastModified().toUTC();
    if (!end.isValid())
        end = QDateTime::currentDateTimeUtc();
    morse::AudioFileReader reader;
    if (reader.open(QFile::encodeName(path)) && reader.length() > 0 && reader.sampleRate() > 0)
        end = end.addMSecs(-std::llround(double(reader.length()) / reader.sampleRate() * 1000.0));
    return end.addMSecs(-end.time().msec());
}

} // namespace

StationLink::StationLink(QString programFolder, QObject *parent)
    : QObject(parent), m_programFolder(std::move(programFolder))
{
    m_thread.setObjectName(u"sids"_s);
    reload();
}

StationLink::~StationLink()
{
    stopSender();
}

// The sender's thread ends without waiting for a reply: a row sent but not answered keeps its
// claim only while this process lives and is sent again by the next run.
void StationLink::stopSender()
{
    if (!m_sender)
        return;
    m_sender->disconnect(this);
    m_sender = nullptr;
    m_thread.quit();
    m_thread.wait();
}

void StationLink::reload()
{
    stopSender();
    m_log.reset();
    m_complained = false;
    m_queue = {};
    const station::StationSettingsReading reading = station::loadStationSettings(m_programFolder);
    m_settings = reading.settings;
    if (!m_settings.log) {
        refreshQueue();
        return;
    }
    auto log = std::make_unique<station::StationLog>();
    if (!log->open(station::StationLog::defaultPath(), BusyTimeoutMs)) {
        complain(u"The station log cannot be used: %1. Frames are copied but not logged or "
                 u"sent."_s.arg(log->errorString()));
        refreshQueue();
        return;
    }
    m_log = std::move(log);
    if (m_settings.share) {
        const QStringList missing = station::missingForSharing(m_settings);
        if (!missing.isEmpty()) {
            complain(u"Frames are logged but not shared: %1"_s.arg(missing.join(u' ')));
        } else {
            for (const QUrl &url : std::as_const(m_settings.servers))
                m_queue.servers.append(station::SidsSender::serverKey(url));
            m_queue.body = [settings = m_settings](const QString &digits, qint64 receivedMs) {
                return station::sidsBody(settings, digits, receivedMs);
            };
            m_sender = new station::SidsSender(station::StationLog::defaultPath(),
                                               m_settings.servers, m_timing);
            m_sender->moveToThread(&m_thread);
            connect(&m_thread, &QThread::finished, m_sender, &QObject::deleteLater);
            connect(m_sender, &station::SidsSender::rowAccepted, this, [this] {
                ++m_accepted;
                refreshQueue();
            });
            connect(m_sender, &station::SidsSender::rowFailed, this,
                    [this](qint64, const QString &error) {
                        m_lastError = error;
                        refreshQueue();
                    });
            connect(m_sender, &station::SidsSender::logFailed, this, [this](const QString &error) {
                complain(u"The station log cannot be used for sending: %1"_s.arg(error));
            });
            m_thread.start();
            QMetaObject::invokeMethod(m_sender, &station::SidsSender::start, Qt::QueuedConnection);
        }
    }
    refreshQueue();
}

void StationLink::take(const std::vector<morse::CopiedLine> &lines, qint64 startMs,
                       const QString &source)
{
    if (!m_log)
        return;
    bool queued = false;
    QString cleaned;
    for (const morse::CopiedLine &line : lines) {
        normaliseLine(line.text, cleaned);
        if (!isLoggable(cleaned))
            continue;
        const station::Reception reception{cleaned,
                                           startMs + std::llround(line.startSeconds * 1000.0),
                                           source, line.frameConfidence, line.doubtful};
        const std::optional<station::LogResult> result =
            m_log->log(std::span(&reception, 1), m_sender ? &m_queue : nullptr);
        if (!result) {
            complain(u"A frame could not be written to the station log: %1. Copying goes on."_s.arg(
                m_log->errorString()));
            continue;
        }
        queued = queued || result->queued > 0;
    }
    if (queued) {
        QMetaObject::invokeMethod(m_sender, &station::SidsSender::wake, Qt::QueuedConnection);
        refreshQueue();
    }
}

void StationLink::takeRecording(const QString &path, const std::vector<morse::CopiedLine> &lines)
{
    std::optional<QDateTime> start = station::recordingDateTag(path);
    if (!start)
        start = station::timeInFileName(path);
    if (start)
        take(lines, start->toMSecsSinceEpoch(), QFileInfo(path).fileName());
    else if (m_log && holdsLoggableFrame(lines))
        askRecordingStart(path, lines);
}

void StationLink::askRecordingStart(const QString &path,
                                    const std::vector<morse::CopiedLine> &lines)
{
    auto *dialog = new RecordingStartDialog(QFileInfo(path).fileName(), suggestedStart(path),
                                            qobject_cast<QWidget *>(parent()));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(this, &QObject::destroyed, dialog, &QObject::deleteLater);
    connect(dialog, &QDialog::accepted, this,
            [this, dialog, lines, name = QFileInfo(path).fileName()] {
                take(lines, dialog->start().toMSecsSinceEpoch(), name);
            });
    dialog->open();
}

void StationLink::refreshQueue()
{
    m_queued = 0;
    if (m_log) {
        for (const QString &server : std::as_const(m_queue.servers))
            m_queued += m_log->queueState(server).queued;
    }
    emit statusChanged();
}

void StationLink::complain(const QString &message)
{
    if (m_complained)
        return;
    m_complained = true;
    emit problem(message);
}

QString StationLink::statusText() const
{
    if (!m_settings.log)
        return u"Station log: off (LOG=no)"_s;
    if (!m_log)
        return u"Station log: cannot be used"_s;
    if (!m_sender)
        return u"Station log: on; sharing off"_s;
    QString text = u"Shared: %1 accepted, %2 queued"_s.arg(m_accepted).arg(m_queued);
    if (!m_lastError.isEmpty())
        text += u" (last server error: %1)"_s.arg(m_lastError);
    return text;
}

} // namespace tovrin3
