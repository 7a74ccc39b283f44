// SPDX-License-Identifier: GPL-3.0-or-later
#include "stationcommand.h"

#include "beaconreader.h"
#include "normalisation.h"
#include "sidsrequest.h"
#include "sidssender.h"
#include "stationlog.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QRegularExpression>
#include <QSemaphore>
#include <QStringDecoder>
#include <QThread>

#include <cmath>

#include <cstdio>
#include <sndfile.h>

namespace tovrin3::station {

namespace {

using namespace Qt::StringLiterals;

constexpr int Failure = 1;
constexpr int SettingsWrong = 2;

enum class Action
{
    None,
    Log,
    Submit,
    DryRun,
    Flush
};

// Whether the option was given. An option the program does not offer is not (tovrin3-cw offers
// no --flush), and asking the parser about it would warn.
bool given(const QCommandLineParser &parser, const QCommandLineOption &option)
{
    return parser.optionNames().contains(option.names().constFirst());
}

// A frame's 18 characters go to the log and the servers as ASCII.
bool isLoggable(QStringView digits)
{
    return digits.size() == FrameLength && std::ranges::all_of(digits, [](QChar c) {
               return c.unicode() > 0x20 && c.unicode() < 0x7F;
           });
}

std::optional<QDateTime> utcTime(const QString &text)
{
    Timestamp timestamp;
    if (!timestamp.read(text))
        return std::nullopt;
    const QDateTime time = QDateTime::fromString(timestamp.text(), Qt::ISODateWithMs);
    return time.isValid() ? std::optional<QDateTime>(time.toUTC()) : std::nullopt;
}

QString sourceName(const QByteArray &name)
{
    return name == "-" ? u"standard input"_s : QFileInfo(QFile::decodeName(name)).fileName();
}

// Logs the frames of a text as its lines pass on to the decoding; the lines with a time of
// reception ("2026-12-06T18:57:44Z|QT7XMRKT3HKD ...") are logged, one transaction for what one
// read brings, so a file goes in batches and a live pipe line by line. A frame marked doubtful is
// logged flagged, never sent. The head is what was read of the input already to tell its content.
class LoggedInput : public QIODevice, private BeaconLineReceiver
{
public:
    LoggedInput(std::unique_ptr<QIODevice> input, QString source, StationCommand &command,
                QByteArrayView head, QStringConverter::Encoding encoding)
        : m_input(std::move(input)), m_source(std::move(source)), m_command(command),
          m_reader(*this, {.lineBreaks = LineBreaks::Text,
                           .timestamps = true,
                           .pieces = false,
                           .keepDoubtful = true}),
          m_decoder(encoding)
    {
        QIODevice::open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        // A live pipe's first line is in the head: it is logged and sent now, not when the
        // next line arrives.
        m_reader.read(QString(m_decoder(head)));
        m_command.take(m_receptions);
    }

    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 count = m_input->read(data, maxSize);
        if (count < 0) {
            setErrorString(m_input->errorString());
            return count;
        }
        if (count == 0) {
            if (!m_finished)
                m_reader.finish();
            m_finished = true;
        } else {
            m_reader.read(QString(m_decoder(QByteArrayView(data, count))));
        }
        m_command.take(m_receptions);
        return count;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    bool receiveLine(const BeaconLine &line) override
    {
        if (line.kind != BeaconLine::Kind::Frame)
            return true;
        const std::optional<QDateTime> time =
            line.timestamp.isEmpty() ? std::nullopt : utcTime(QString(line.timestamp));
        if (!time || !isLoggable(line.frameText)) {
            m_command.countUntimed();
            return true;
        }
        m_receptions.push_back({line.frameText.toString(), time->toMSecsSinceEpoch(), m_source,
                                line.doubtfulConfidence, line.doubtfulConfidence.has_value()});
        return true;
    }

    std::unique_ptr<QIODevice> m_input;
    const QString m_source;
    StationCommand &m_command;
    BeaconReader m_reader;
    QStringDecoder m_decoder;
    std::vector<Reception> m_receptions;
    bool m_finished = false;
};

} // namespace

StationOptions::StationOptions()
    : log(u"log"_s, u"keep the frames with a known time in the station log "
                    u"($XDG_DATA_HOME/tovrin3/telemetry.sqlite); sends nothing"_s),
      submit(u"submit"_s, u"log the frames with a known time and send them to the SiDS servers "
                          u"of conf.ini (needs SHARE=yes); what cannot be sent stays queued"_s),
      dryRun(u"submit-dry-run"_s, u"print on standard error each request --submit would make; "
                                  u"logs and sends nothing"_s),
      flush(u"flush"_s, u"send what the station log holds queued, then end; reads no input"_s),
      start(u"start"_s,
            u"the UTC time a recording began, as 2026-12-06T18:57:44Z (else its date tag or a "
            u"time in its file name counts)"_s,
            u"TIME"_s)
{
}

std::optional<QDateTime> timeInFileName(const QString &path)
{
    static const QRegularExpression pattern(
        u"(\\d{4})-?(\\d{2})-?(\\d{2})[T_ ](\\d{2})[-:]?(\\d{2})[-:]?(\\d{2})(?:[.,](\\d{1,3}))?"_s);
    const QRegularExpressionMatch match = pattern.match(QFileInfo(path).fileName());
    if (!match.hasMatch())
        return std::nullopt;
    const QDate date(match.captured(1).toInt(), match.captured(2).toInt(),
                     match.captured(3).toInt());
    const int milliseconds =
        match.captured(7).isEmpty() ? 0 : match.captured(7).leftJustified(3, u'0').toInt();
    const QTime time(match.captured(4).toInt(), match.captured(5).toInt(),
                     match.captured(6).toInt(), milliseconds);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time, Qt::UTC);
}

std::optional<QDateTime> recordingDateTag(const QString &path)
{
    SF_INFO info{};
    SNDFILE *const file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!file)
        return std::nullopt;
    const char *const tag = sf_get_string(file, SF_STR_DATE);
    const QString text = tag ? QString::fromUtf8(tag).trimmed() : QString();
    sf_close(file);
    static const QRegularExpression dateAndTime(
        u"^\\d{4}-\\d{2}-\\d{2}[T ]\\d{2}:\\d{2}:\\d{2}(\\.\\d+)?(Z|[+-]\\d{2}:?\\d{2})?$"_s,
        QRegularExpression::CaseInsensitiveOption);
    if (!dateAndTime.match(text).hasMatch())
        return std::nullopt;
    QString iso = text.toUpper();
    iso[10] = u'T';
    QDateTime time = QDateTime::fromString(iso, Qt::ISODateWithMs);
    if (!time.isValid())
        return std::nullopt;
    if (time.timeSpec() == Qt::LocalTime)
        time.setTimeSpec(Qt::UTC);
    return time.toUTC();
}

struct StationCommand::Run
{
    QString program;
    Action action = Action::None;
    std::optional<QDateTime> start;
    StationSettings settings;
    QueueRequest queue;
    std::unique_ptr<StationLog> log;
    QString logError;
    bool logFailed = false;
    int logged = 0;
    int newFrames = 0;
    int untimed = 0;
    std::unique_ptr<QCoreApplication> application;
    QThread thread;
    SidsSender *sender = nullptr;
    QSemaphore drained;
    QMutex senderErrorLock;
    QString senderError;
};

StationCommand::StationCommand(const QCommandLineParser &parser, const StationOptions &options,
                               int inputCount, const QString &program)
    : m_run(std::make_unique<Run>())
{
    m_run->program = program;
    int actions = 0;
    for (const auto &[option, action] :
         {std::pair{&options.log, Action::Log}, std::pair{&options.submit, Action::Submit},
          std::pair{&options.dryRun, Action::DryRun}, std::pair{&options.flush, Action::Flush}})
        if (given(parser, *option)) {
            m_run->action = action;
            ++actions;
        }
    if (actions > 1)
        m_usageError = u"--log, --submit, --submit-dry-run and --flush exclude each other"_s;
    else if (m_run->action == Action::Flush && inputCount > 0)
        m_usageError = u"--flush reads no FILE"_s;
    if (given(parser, options.start)) {
        m_run->start = utcTime(parser.value(options.start));
        if (!m_run->start)
            m_usageError = u"--start takes a UTC time such as 2026-12-06T18:57:44Z, not '%1'"_s.arg(
                parser.value(options.start));
        else if (inputCount > 1)
            m_usageError = u"--start gives the beginning of one recording; name one FILE"_s;
    }
}

StationCommand::~StationCommand()
{
    if (m_run->thread.isRunning()) {
        m_run->thread.quit();
        m_run->thread.wait();
    }
}

void StationCommand::say(const QString &message) const
{
    std::fprintf(stderr, "%s: %s\n", qPrintable(m_run->program), qPrintable(message));
}

bool StationCommand::flushOnly() const
{
    return m_run->action == Action::Flush;
}

std::optional<int> StationCommand::begin()
{
    Run &run = *m_run;
    if (run.action == Action::None)
        return std::nullopt;
    static int argc = 1;
    static QByteArray name = run.program.toLocal8Bit();
    static char *argv[] = {name.data(), nullptr};
    if (!QCoreApplication::instance())
        run.application = std::make_unique<QCoreApplication>(argc, argv);
    const StationSettingsReading reading =
        loadStationSettings(QCoreApplication::applicationDirPath());
    const QString file = reading.path.isEmpty() ? u"conf.ini"_s : reading.path;
    QStringList problems = reading.problems;
    const bool sends = run.action == Action::Submit || run.action == Action::Flush;
    if (sends || run.action == Action::DryRun)
        problems += missingForSharing(reading.settings);
    if (sends && !reading.settings.share)
        problems.append(reading.shareIgnored
                            ? u"SHARE=yes counts only in a conf.ini of your own, beside the "
                              u"program or in $XDG_CONFIG_HOME"_s
                            : u"sharing is off: SHARE=yes turns it on"_s);
    for (const QString &problem : std::as_const(problems))
        say(u"%1: %2"_s.arg(file, problem));
    if (!problems.isEmpty())
        return SettingsWrong;
    run.settings = reading.settings;
    for (const QUrl &url : std::as_const(run.settings.servers))
        run.queue.servers.append(SidsSender::serverKey(url));
    run.queue.body = [settings = run.settings](const QString &digits, qint64 receivedMs) {
        return sidsBody(settings, digits, receivedMs);
    };
    if (run.action == Action::DryRun)
        return std::nullopt;

    run.log = std::make_unique<StationLog>();
    if (!run.log->open(StationLog::defaultPath())) {
        run.logFailed = true;
        say(run.log->errorString() + u"; the decoding goes on without it"_s);
        run.log.reset();
        if (run.action == Action::Flush)
            return Failure;
        return std::nullopt;
    }
    if (!sends)
        return std::nullopt;
    run.sender = new SidsSender(StationLog::defaultPath(), run.settings.servers);
    run.sender->moveToThread(&run.thread);
    QObject::connect(&run.thread, &QThread::finished, run.sender, &QObject::deleteLater);
    QObject::connect(
        run.sender, &SidsSender::drained, run.sender, [&run] { run.drained.release(); },
        Qt::DirectConnection);
    QObject::connect(
        run.sender, &SidsSender::logFailed, run.sender,
        [&run](const QString &error) {
            const QMutexLocker locker(&run.senderErrorLock);
            run.senderError = error;
        },
        Qt::DirectConnection);
    run.thread.start();
    QMetaObject::invokeMethod(run.sender, &SidsSender::start, Qt::QueuedConnection);
    return std::nullopt;
}

std::unique_ptr<QIODevice> StationCommand::watch(std::unique_ptr<QIODevice> input,
                                                 const QByteArray &name, QByteArrayView head,
                                                 QStringConverter::Encoding encoding)
{
    if (m_run->action == Action::None || !input)
        return input;
    return std::make_unique<LoggedInput>(std::move(input), sourceName(name), *this, head, encoding);
}

void StationCommand::recordingCopied(const QByteArray &name,
                                     const std::vector<morse::CopiedLine> &lines)
{
    Run &run = *m_run;
    if (run.action == Action::None)
        return;
    std::optional<QDateTime> start = run.start;
    // A recording through standard input has neither a name nor a tag that could be read again.
    if (!start && name != "-")
        start = recordingDateTag(QFile::decodeName(name));
    if (!start && name != "-")
        start = timeInFileName(QFile::decodeName(name));
    std::vector<Reception> receptions;
    for (const morse::CopiedLine &line : lines)
        addCopied(receptions, line,
                  start ? start->addMSecs(std::llround(line.startSeconds * 1000.0)) : QDateTime(),
                  sourceName(name));
    take(receptions);
}

void StationCommand::lineHeard(const QByteArray &name, const morse::CopiedLine &line,
                               const QDateTime &time)
{
    if (m_run->action == Action::None)
        return;
    std::vector<Reception> receptions;
    addCopied(receptions, line, time, sourceName(name));
    take(receptions);
}

void StationCommand::addCopied(std::vector<Reception> &receptions, const morse::CopiedLine &line,
                               const QDateTime &time, const QString &source)
{
    QString cleaned;
    normaliseLine(line.text, cleaned);
    if (cleaned.size() != FrameLength)
        return;
    if (!time.isValid() || !isLoggable(cleaned)) {
        ++m_run->untimed;
        return;
    }
    receptions.push_back(
        {cleaned, time.toMSecsSinceEpoch(), source, line.frameConfidence, line.doubtful});
}

void StationCommand::countUntimed()
{
    ++m_run->untimed;
}

void StationCommand::take(std::vector<Reception> &receptions)
{
    Run &run = *m_run;
    if (receptions.empty())
        return;
    if (run.action == Action::DryRun) {
        for (const Reception &reception : receptions) {
            if (reception.doubtful)
                continue;
            const QByteArray body = run.queue.body(reception.digits, reception.receivedMs);
            for (const QUrl &url : std::as_const(run.settings.servers))
                std::fprintf(stderr,
                             "POST %s\nContent-Type: application/x-www-form-urlencoded\n\n%s\n\n",
                             qPrintable(displayedUrl(url)), body.constData());
        }
        run.logged += int(receptions.size());
        receptions.clear();
        return;
    }
    if (!run.log) {
        receptions.clear();
        return;
    }
    const std::optional<LogResult> result =
        run.log->log(receptions, run.action == Action::Submit ? &run.queue : nullptr);
    if (!result) {
        if (!run.logFailed)
            say(run.log->errorString() + u"; the decoding goes on"_s);
        run.logFailed = true;
    } else {
        run.logged += int(receptions.size());
        run.newFrames += result->frames;
        if (result->queued > 0 && run.sender)
            QMetaObject::invokeMethod(run.sender, &SidsSender::wake, Qt::QueuedConnection);
    }
    receptions.clear();
}

int StationCommand::finish(int decodingStatus)
{
    Run &run = *m_run;
    if (run.action == Action::None)
        return decodingStatus;
    if (run.untimed > 0)
        say(u"%1 frames without a known time were not logged"_s.arg(run.untimed));
    if (run.action == Action::DryRun)
        return decodingStatus;
    if (run.action != Action::Flush && run.log)
        say(u"%1 frames logged, %2 of them new"_s.arg(run.logged).arg(run.newFrames));
    if (run.sender) {
        QMetaObject::invokeMethod(run.sender, &SidsSender::drain, Qt::QueuedConnection);
        run.drained.acquire();
        const int accepted = run.sender->acceptedCount();
        run.thread.quit();
        run.thread.wait();
        run.sender = nullptr;
        int queued = 0;
        QStringList reasons;
        for (const QString &server : std::as_const(run.queue.servers)) {
            const QueueState state = run.log->queueState(server);
            queued += state.queued;
            if (state.queued > 0 && !state.lastError.isEmpty())
                reasons.append(state.lastError);
        }
        QString message = u"%1 frames accepted, %2 stay queued"_s.arg(accepted).arg(queued);
        if (!reasons.isEmpty())
            message += u" (%1)"_s.arg(reasons.join(u"; "_s));
        say(message);
        const QMutexLocker locker(&run.senderErrorLock);
        if (!run.senderError.isEmpty()) {
            say(run.senderError);
            run.logFailed = true;
        }
    }
    return run.logFailed ? Failure : decodingStatus;
}

} // namespace tovrin3::station
