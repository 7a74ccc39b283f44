// SPDX-License-Identifier: GPL-3.0-or-later
#include "audiofile.h"
#include "cwstream.h"
#include "cwtesting.h"
#include "filetesting.h"
#include "processtesting.h"

#include <QLocale>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

using namespace tovrin3;
using namespace Qt::StringLiterals;

namespace {

const QString CwProgram = QStringLiteral(BIN_DIR "/tovrin3-cw");
const QString DecodeProgram = QStringLiteral(BIN_DIR "/tovrin3-decode");
constexpr int Rate = 8000;
const QString RawRate = QStringLiteral("--raw-rate");
const QString Timestamps = QStringLiteral("--timestamps");
const QString Start = QStringLiteral("--start");
const QDateTime PassStart(QDate(2026, 12, 6), QTime(18, 57, 44), Qt::UTC);

using testing::ProgramRun;
using testing::runProgram;

QByteArray usageError(const QByteArray &message)
{
    return "tovrin3-cw: " + message + "\nTry 'tovrin3-cw --help' for more information.\n";
}

} // namespace

class TestCwCommand : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale::c());
        QVERIFY(QFile::exists(CwProgram));
        QVERIFY(m_dir.isValid());
        // Most runs copy short transmissions; the decoder's runs need a beacon frame.
        const std::vector<float> signal =
            testing::cwTestSignal(Rate, testing::CwShortTransmissions);
        m_pass = m_dir.filePath(QStringLiteral("pass.wav"));
        QVERIFY(cwgen::writeWav(m_pass, signal, Rate));
        m_beaconPass = m_dir.filePath(QStringLiteral("beacon.wav"));
        QVERIFY(cwgen::writeWav(m_beaconPass, testing::cwTestSignal(Rate), Rate));
        m_raw = testing::rawSamples(signal);
        m_text = testing::CwShortTransmissions.join(u'\n').toUtf8() + '\n';
        m_copy = morse::copyAudioFile(m_pass);
        QCOMPARE(m_copy.lines.size(), size_t(2));
    }

    void runs_data()
    {
        testing::addRunColumns();
        const QString missing = m_dir.filePath(QStringLiteral("missing.wav"));
        const QString text = QStringLiteral(SAMPLES_DIR "/beacon.txt");
        QByteArray timed;
        for (const morse::CopiedLine &line : m_copy.lines)
            timed += cwOutputLine(line.text, timeInto(PassStart, line.startSeconds));

        using testing::addRun;
        addRun("raw samples on standard input named -", {u"-"_s, u"--raw-rate=8000"_s}, m_raw,
               m_text, {}, 0);
        addRun("a file timed from --start", {Timestamps, Start, u"2026-12-06 18:57:44z"_s, m_pass},
               {}, timed, {}, 0);
        addRun("inputs that fail are named, the others copied",
               {missing, m_pass, text, m_dir.path()}, {}, m_text,
               "tovrin3-cw: " + missing.toLocal8Bit() + ": No such file or directory\n" +
                   "tovrin3-cw: " + text.toLocal8Bit() + ": not an audio file\n" +
                   "tovrin3-cw: " + m_dir.path().toLocal8Bit() + ": not a regular file\n",
               1);
        addRun("--timestamps on a file without --start", {Timestamps, m_pass}, {}, {},
               usageError("--timestamps on a FILE needs --start TIME, the UTC time the "
                          "recording began"),
               2);
        addRun("standard input without its rate", {}, m_raw, {},
               usageError("raw samples on standard input need their rate: --raw-rate HZ"), 2);
        addRun("raw samples at 4 kHz", {RawRate, u"4000"_s},
               testing::rawSamples(testing::cwTestSignal(4000, testing::CwShortTransmissions)),
               m_text, {}, 0);
        for (const char *rate : {"3999", "nan"})
            addRun(rate, {RawRate, QString::fromLatin1(rate)}, m_raw, {},
                   usageError("--raw-rate takes a rate from 4000 to 192000 Hz, not '" +
                              QByteArray(rate) + "'"),
                   2);
        // No such day, and past the year 9999.
        for (const char *start : {"2026-02-30T12:00:00Z", "10000-01-01T00:00:00Z"})
            addRun(start, {Timestamps, Start, QString::fromLatin1(start), m_pass}, {}, {},
                   usageError("--start takes a UTC time up to the year 9999 such as "
                              "2026-12-06T18:57:44Z, not '" +
                              QByteArray(start) + "'"),
                   2);
        addRun("line times that would run past the year 9999",
               {Timestamps, Start, u"9999-12-31T23:59:59.5Z"_s, m_pass}, {}, {},
               "tovrin3-cw: " + m_pass.toLocal8Bit() +
                   ": the line times run past the year 9999: --start is too late\n",
               1);
        addRun("--start without --timestamps", {Start, u"2026-12-06T18:57:44Z"_s, m_pass}, {}, {},
               usageError("--start only serves --timestamps, --log and --submit"), 2);
        addRun("--start for two recordings",
               {Timestamps, Start, u"2026-12-06T18:57:44Z"_s, m_pass, m_pass}, {}, {},
               usageError("--start gives the beginning of one recording; name one FILE"), 2);
        addRun("unknown option", {m_pass, u"--frames"_s}, {}, {},
               usageError("unknown option '--frames'"), 2);
    }

    void runs() { testing::checkRun(CwProgram); }

    // The lock is reported on standard error and changes nothing on standard output.
    void reportsLockWhenVerbose_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("standardInput");
        QTest::addColumn<QString>("name");
        QTest::newRow("file") << QStringList{m_pass} << QByteArray() << m_pass;
        QTest::newRow("standard input")
            << QStringList{RawRate, QString::number(Rate)} << m_raw << QStringLiteral("-");
    }

    void reportsLockWhenVerbose()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, standardInput);
        QFETCH(QString, name);
        const ProgramRun result =
            runProgram(CwProgram, arguments << QStringLiteral("--verbose"), standardInput);
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.output, m_text);
        const QRegularExpression locked(
            QStringLiteral("^tovrin3-cw: %1: \\d+\\.\\d s: locked on (6[5-9]|7[0-4])\\d Hz, "
                           "(29|30|31) WPM$")
                .arg(QRegularExpression::escape(name)),
            QRegularExpression::MultilineOption);
        QVERIFY2(locked.match(QString::fromUtf8(result.errors)).hasMatch(),
                 result.errors.constData());
    }

    // A reader that stops reading ends the program without a message.
    void closedOutputEndsQuietly()
    {
        const ProgramRun result =
            testing::runIntoClosedPipe(CwProgram, {RawRate, QString::number(Rate)}, m_raw, true);
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(result.errors, QByteArray());
    }

    // The decoder demodulates an audio FILE first, through the same copy as tovrin3-cw (whose
    // text decodes alike: tst_streamdecoding); a recording through a pipe, redirected from the
    // file or named by bytes that are no UTF-8 is the same recording, for both programs.
    void decodeReadsAudio()
    {
        const ProgramRun direct = runProgram(DecodeProgram, {m_beaconPass});
        QCOMPARE(direct.exitCode, 0);
        QVERIFY(direct.output.contains("900140010C6A00A503"));
        const testing::ByteNamedFile file(QFile::encodeName(m_dir.path()) + "/pass\xff.wav",
                                          testing::fileContent(m_beaconPass));
        QVERIFY(file.isWritten());
        // Standard input that is the file itself can be neither opened by name nor read again.
        for (const ProgramRun &run :
             {direct, runProgram(DecodeProgram, {}, testing::fileContent(m_beaconPass)),
              testing::runWithInputFile(DecodeProgram, {}, m_beaconPass),
              testing::runWithBytes(DecodeProgram, {file.path()})}) {
            QCOMPARE(run.errors, QByteArray());
            QCOMPARE(run.output, direct.output);
        }
        const ProgramRun copied = testing::runWithBytes(CwProgram, {file.path()});
        QCOMPARE(copied.errors, QByteArray());
        QCOMPARE(copied.output, runProgram(CwProgram, {m_beaconPass}).output);
        // With audio, CSV has a confidence column, piped or not.
        const QString csv = QStringLiteral("--format=csv");
        const QByteArray header =
            runProgram(DecodeProgram, {csv, m_beaconPass}).output.split('\n').at(0);
        QVERIFY2(header.endsWith(",confidence"), header.constData());
        const QByteArray piped =
            runProgram(DecodeProgram, {csv}, testing::fileContent(m_beaconPass)).output;
        QCOMPARE(piped.split('\n').at(0), header);
    }

    // A recorder that crashed after the first transmission costs the rest only; a file cut
    // before anything could be copied gets not even its heading in the decoder's report.
    void damagedFileGivesLinesBeforeDamage()
    {
        // The first transmission alone ends a second into the pause before the second one.
        const auto cut =
            qsizetype(testing::cwTestSignal(Rate, {testing::CwTestTransmissions.front()}).size());
        constexpr qsizetype WavHeaderSize = 44;
        const QString crashed = m_dir.filePath(QStringLiteral("crashed.wav"));
        QVERIFY(testing::writeFile(
            crashed, testing::fileContent(m_beaconPass).first(WavHeaderSize + 2 * cut)));
        const QString early = m_dir.filePath(QStringLiteral("cut.wav"));
        QVERIFY(testing::writeFile(early, testing::fileContent(m_pass).first(1000)));
        const ProgramRun copied = runProgram(CwProgram, {crashed});
        QCOMPARE(copied.exitCode, 1);
        QCOMPARE(copied.output, testing::CwTestTransmissions.front().toUtf8() + '\n');
        QVERIFY2(copied.errors.startsWith("tovrin3-cw: " + crashed.toLocal8Bit() +
                                          ": cut short: the header declares "),
                 copied.errors.constData());
        QCOMPARE(copied.errors.count('\n'), 1);
        const ProgramRun decoded = runProgram(DecodeProgram, {early, crashed});
        QCOMPARE(decoded.exitCode, 1);
        QVERIFY2(decoded.output.startsWith("==> " + crashed.toLocal8Bit() +
                                           " <==\n#1: 900140010C6A00A503\n"),
                 decoded.output.constData());
        QCOMPARE(decoded.errors.count(": cut short"), 2);
        QVERIFY(
            decoded.errors.startsWith("tovrin3-decode: " + early.toLocal8Bit() + ": cut short"));
    }

private:
    QTemporaryDir m_dir;
    QString m_pass;
    QString m_beaconPass;
    QByteArray m_raw;
    QByteArray m_text;
    morse::AudioFileCopy m_copy;
};

QTEST_GUILESS_MAIN(TestCwCommand)
#include "tst_cwcommand.moc"
