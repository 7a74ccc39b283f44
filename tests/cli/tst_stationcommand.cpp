// SPDX-License-Identifier: GPL-3.0-or-later
#include "audiofile.h"
#include "cwsignal.h"
#include "cwtesting.h"
#include "historytesting.h"
#include "sidsrequest.h"
#include "sidsserver.h"
#include "soundtesting.h"
#include "stationcommand.h"
#include "stationtesting.h"

#include <QFile>
#include <QLocale>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

using namespace tovrin3;
using namespace tovrin3::testing;

namespace {

const QString Program = QStringLiteral(BIN_DIR "/tovrin3-decode");
const QString CwProgram = QStringLiteral(BIN_DIR "/tovrin3-cw");
constexpr int Rate = 8000;
const QByteArray TimedLine = "2026-12-06T18:57:44Z|QT7XMRKT3HKD 900140010C6A00A503\n";
// Requests the server got, sure frames and queued frames in the log (-1: no log).
using Counts = QList<qint64>;
const QByteArray FrameHex = "515437584D524B5433484B4420393030313430303130433641303041353033";

QByteArray expectedBody(const QByteArray &timestamp)
{
    return "noradID=99999&source=DL1ABC%2FP&timestamp=" + timestamp.toPercentEncoding() +
           "&frame=" + FrameHex + "&locator=longLat&longitude=11.000E&latitude=48.500N&version=" +
           station::softwareVersion().toUtf8().toPercentEncoding();
}

} // namespace

class TestStationCommand : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale::c());
        QVERIFY(QFile::exists(Program));
        QVERIFY(m_dir.isValid());
        m_recording = m_dir.filePath(u"pass.wav"_qs);
        QVERIFY(cwgen::writeWav(m_recording, cwTestSignal(Rate), Rate));
        m_namedRecording = m_dir.filePath(u"satnogs_8812345_2026-12-06T18-57-00.wav"_qs);
        QVERIFY(QFile::copy(m_recording, m_namedRecording));
        m_taggedRecording = m_dir.filePath(u"tagged.wav"_qs);
        QVERIFY(writeSound(m_taggedRecording, cwTestSignal(Rate), Rate,
                           SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, "2026-12-06 18:56:00"));
        const morse::AudioFileCopy copy = morse::copyAudioFile(m_recording);
        QVERIFY(!copy.lines.empty());
        m_headerOffsetMs = std::llround(copy.lines.front().startSeconds * 1000.0);
    }

    void init()
    {
        m_home = std::make_unique<StationHome>();
        m_server = std::make_unique<SidsServer>();
        QVERIFY(m_server->listen());
        QVERIFY(m_home->writeConfiguration(configuration()));
    }

    // What the program says, sends and logs. A recording's frame is sent byte for byte at the
    // time from --start, a time in its name or its date tag (a timed line's body is the dry
    // run's). A frame with no known time (a line without one, a recording without any of these)
    // is not logged, a doubtful one is logged flagged; settings that are missing or wrong end
    // the program before anything is sent or logged, each named; a dry run shows the request
    // and logs nothing; a server that fails keeps the frame queued, and the program says why.
    // That a later try sends it, byte for byte and once, is the sender's (tst_sidssender).
    void answers_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArrayList>("messages");
        QTest::addColumn<Counts>("counts");
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QByteArray>("sentTime"); // of the one request's body; empty: unchecked
        QTest::addColumn<bool>("serverFails");
        const auto row = [](const char *name, const QStringList &arguments, const QByteArray &input,
                            int exitCode, const QByteArrayList &messages, Counts counts,
                            const QByteArray &settings = {}, const QByteArray &sentTime = {},
                            bool serverFails = false) {
            QTest::newRow(name) << arguments << input << exitCode << messages << counts << settings
                                << sentTime << serverFails;
        };
        const auto sentAt = [this](QTime start) { // on 2026-12-06, UTC, where the frame begins
            return QDateTime(QDate(2026, 12, 6), start, Qt::UTC)
                .addMSecs(m_headerOffsetMs)
                .toString(u"yyyy-MM-dd'T'HH:mm:ss.zzz'Z'"_qs)
                .toLatin1();
        };
        const QStringList submit{u"--submit"_qs};
        const QByteArrayList accepted{"1 frames accepted, 0 stay queued"};
        row("recording with --start",
            submit + QStringList{u"--start"_qs, u"2026-12-06T18:50:00Z"_qs, u"RECORDING"_qs}, {}, 0,
            accepted, {1, 1, 0}, {}, sentAt(QTime(18, 50)));
        row("recording with its start in its name", submit + QStringList{u"NAMED"_qs}, {}, 0,
            accepted, {1, 1, 0}, {}, sentAt(QTime(18, 57)));
        row("recording with its start in its date tag", submit + QStringList{u"TAGGED"_qs}, {}, 0,
            accepted, {1, 1, 0}, {}, sentAt(QTime(18, 56)));
        const QStringList csvSubmit{u"--format"_qs, u"csv"_qs, u"--submit"_qs};
        const QByteArrayList untimed{"1 frames without a known time were not logged"};
        row("no time", csvSubmit, "QT7XMRKT3HKD 900140010C6A00A503\n", 0, untimed, {0, 0, 0});
        row("recording without a start", csvSubmit + QStringList{u"RECORDING"_qs}, {}, 0, untimed,
            {0, 0, 0});
        row("doubtful", csvSubmit,
            "2026-12-06T18:57:44Z|QT7XMRKT3HKD 900140010C6A00A503 [DOUBTFUL:CONFIDENCE=0.42]\n", 0,
            {"1 frames logged, 1 of them new"}, {0, 0, 0});
        const Counts nothing{0, -1, -1};
        for (const char *option : {"--submit", "--flush"})
            row(QByteArray("sharing off: ").append(option).constData(),
                {QString::fromLatin1(option)}, TimedLine, 2, {"SHARE=yes"}, nothing, "SHARE=no\n");
        row("bad callsign and NORAD number", {u"--log"_qs}, TimedLine, 2,
            {"CALLSIGN=DL 1", "NORAD_ID=x"}, nothing, "CALLSIGN=DL 1\nNORAD_ID=x\n");
        const QStringList dryRun{u"--submit-dry-run"_qs};
        row("nothing sharing needs for the dry run", dryRun, TimedLine, 2,
            {"CALLSIGN", "NORAD_ID", "LOCATOR"}, nothing, "CALLSIGN=\nNORAD_ID=\nLOCATOR=\n");
        row("dry run", dryRun, TimedLine, 0,
            {"POST SERVER", expectedBody("2026-12-06T18:57:44.000Z")}, nothing);
        row("server fails", submit, TimedLine, 0,
            {"0 frames accepted, 1 stay queued", "HTTP 503", "down for maintenance"}, {1, 1, 1}, {},
            "2026-12-06T18:57:44.000Z", true);
    }

    void answers()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, settings);
        QFETCH(QByteArray, input);
        QFETCH(bool, serverFails);
        QFETCH(QByteArrayList, messages);
        QVERIFY(m_home->writeConfiguration(configuration() + settings));
        if (serverFails)
            m_server->script({{503, {}, "down for maintenance"}});
        arguments.replaceInStrings(u"RECORDING"_qs, m_recording);
        arguments.replaceInStrings(u"NAMED"_qs, m_namedRecording);
        arguments.replaceInStrings(u"TAGGED"_qs, m_taggedRecording);
        const ProgramRun run = decode(arguments, input);
        QTEST(run.exitCode, "exitCode");
        for (QByteArray &message : messages)
            QVERIFY2(run.errors.contains(message.replace("SERVER", m_server->url().toEncoded())),
                     run.errors.constData());
        const Counts counts{
            m_server->requests.size(),
            logNumber(m_home->logPath(), u"SELECT count(*) FROM frames WHERE doubtful = 0"_qs),
            logNumber(m_home->logPath(), u"SELECT count(*) FROM outbox WHERE state = 'queued'"_qs)};
        QTEST(counts, "counts");
        QFETCH(QByteArray, sentTime);
        if (!sentTime.isEmpty())
            QCOMPARE(m_server->requests.first().body, expectedBody(sentTime));
    }

    // The live pipe: a frame is sent when its line arrives, before the input ends.
    void sendsAsLinesArrive()
    {
        QProcess child;
        child.setProcessEnvironment(m_home->environment());
        QSignalSpy received(m_server.get(), &SidsServer::requestReceived);
        child.start(Program, {u"--format"_qs, u"csv"_qs, u"--submit"_qs});
        child.write(TimedLine);
        QVERIFY(received.wait(20'000));
        child.closeWriteChannel();
        QVERIFY(child.waitForFinished());
        QCOMPARE(child.exitCode(), 0);
        QCOMPARE(m_server->requests.size(), 1);
    }

    // Two programs logging at once lose nothing.
    void twoProgramsLogAtOnce()
    {
        QByteArray first;
        QByteArray second;
        for (int line = 0; line < 400; ++line) {
            const QByteArray time =
                QDateTime::fromSecsSinceEpoch(1'796'558'400 + line * 60, Qt::UTC)
                    .toString(Qt::ISODate)
                    .toLatin1();
            first += time + "|QT7XMRKT3HKD 900140010C6A00A503\n";
            second += time + "|QT7XMRKT3HKD 5A01B6010C7201A604\n";
        }
        QProcess one;
        QProcess two;
        for (auto [process, input] : {std::pair{&one, &first}, std::pair{&two, &second}}) {
            process->setProcessEnvironment(m_home->environment());
            process->start(Program, {u"--format"_qs, u"csv"_qs, u"--log"_qs});
            process->write(*input);
            process->closeWriteChannel();
        }
        QVERIFY(one.waitForFinished(60'000) && two.waitForFinished(60'000));
        for (QProcess *process : {&one, &two})
            QVERIFY2(process->exitCode() == 0, process->readAllStandardError().constData());
        QCOMPARE(logNumber(m_home->logPath(), u"SELECT count(*) FROM frames"_qs), 800);
        // --log sends nothing, now or later, though sharing is on.
        QCOMPARE(logNumber(m_home->logPath(), u"SELECT count(*) FROM outbox"_qs), 0);
        QCOMPARE(m_server->requests.size(), 0);
    }

    // A log that cannot be written: one message, the decoding goes on, status 1. A file that is
    // no database fails in the log's opening as the folder does; its message is tst_historylog's.
    void decodesWithoutAUsableLog_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::newRow("folder cannot be made") << u"folder"_qs;
        QTest::newRow("read-only log") << u"read-only"_qs;
    }

    void decodesWithoutAUsableLog()
    {
        QFETCH(QString, damage);
        if (damage == u"read-only")
            TOVRIN3_RUN_UNPRIVILEGED();
        if (damage == u"folder") {
            QVERIFY(writeFile(m_home->dataHome(), "a file"));
        } else {
            QCOMPARE(decode({u"--log"_qs}, TimedLine).exitCode, 0);
            QVERIFY(QFile::setPermissions(m_home->logPath(), QFileDevice::ReadOwner));
            QVERIFY(!QFileInfo(m_home->logPath()).isWritable());
        }
        const ProgramRun run =
            decode({u"--format"_qs, u"csv"_qs, u"--log"_qs}, TimedLine + TimedLine);
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.output.count('\n'), 3);
        QCOMPARE(run.errors.count("station log"), 1);
        QVERIFY2(damage != u"read-only" || run.errors.contains("readonly"), run.errors.constData());
    }

    void readsTimesInFileNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("time"); // empty: none

        QTest::newRow("ISO with colons") << "pass 2026-12-06T18:57:44Z.wav"
                                         << "2026-12-06T18:57:44.000Z";
        QTest::newRow("basic form with fraction") << "20261206T185744.5Z.flac"
                                                  << "2026-12-06T18:57:44.500Z";
        QTest::newRow("month 13") << "2026-13-06T18-57-44.wav" << QString();
    }

    void readsTimesInFileNames()
    {
        QFETCH(QString, name);
        const std::optional<QDateTime> time = station::timeInFileName(name);
        QTEST(time ? time->toString(u"yyyy-MM-dd'T'HH:mm:ss.zzz'Z'"_qs) : QString(), "time");
    }

    // tovrin3-cw logs and sends the frames it copies at the time it writes for them, and its
    // output stays as without the station options; settings count only where these need them.
    void cwSendsWhatItCopies_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("settings");
        const QStringList start{u"--timestamps"_qs, u"--start"_qs, u"2026-12-06T18:50:00Z"_qs};
        QTest::newRow("recording")
            << start + QStringList{u"RECORDING"_qs, u"--submit"_qs} << QByteArray();
        QTest::newRow("raw samples")
            << start + QStringList{u"--raw-rate"_qs, QString::number(Rate), u"-"_qs, u"--submit"_qs}
            << QByteArray();
        QTest::newRow("bad settings without a station option")
            << start + QStringList{u"RECORDING"_qs} << QByteArray("SHARE=no\nCALLSIGN=DL 1\n");
    }

    void cwSendsWhatItCopies()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, settings);
        const bool sent = arguments.contains(u"--submit"_qs);
        QVERIFY(m_home->writeConfiguration(configuration() + settings));
        arguments.replaceInStrings(u"RECORDING"_qs, m_recording);
        const QByteArray input =
            arguments.contains(u"-"_qs) ? rawSamples(cwTestSignal(Rate)) : QByteArray();
        const ProgramRun run = runProgram(CwProgram, arguments, m_home->environment(), input);
        QVERIFY2(run.exitCode == 0, run.errors.constData());
        QCOMPARE(logNumber(m_home->logPath(), u"SELECT count(*) FROM receptions"_qs),
                 sent ? 1 : -1);
        QCOMPARE(m_server->requests.size(), sent ? 1 : 0);
        QStringList without = arguments;
        without.removeAll(u"--submit"_qs);
        const ProgramRun unchanged = runProgram(CwProgram, without, m_home->environment(), input);
        QCOMPARE(run.output, unchanged.output);
        if (!sent)
            return;
        const qsizetype frame = run.output.indexOf("|QT7XMRKT3HKD");
        QVERIFY2(frame > 0, run.output.constData());
        const QByteArray lineTime = run.output.first(frame).split('\n').last();
        QCOMPARE(m_server->requests.first().body, expectedBody(lineTime));
    }

private:
    QByteArray configuration() const
    {
        return "IMAGE_PATH=/tmp/\nCALLSIGN=DL1ABC/P\nLOCATOR=JN58td\nNORAD_ID=99999\nSIDS_URL=" +
               m_server->url().toString().toLatin1() + "\nSHARE=yes\n";
    }

    ProgramRun decode(const QStringList &arguments, const QByteArray &input = {})
    {
        return runProgram(Program, arguments, m_home->environment(), input);
    }

    QTemporaryDir m_dir;
    QString m_recording;
    QString m_namedRecording;
    QString m_taggedRecording;
    qint64 m_headerOffsetMs = 0;
    std::unique_ptr<StationHome> m_home;
    std::unique_ptr<SidsServer> m_server;
};

QTEST_GUILESS_MAIN(TestStationCommand)
#include "tst_stationcommand.moc"
