// SPDX-License-Identifier: GPL-3.0-or-later
#include "stationtesting.h"

#include <QDir>
#include <QTest>

using namespace tovrin3::testing;

namespace {

const QString Program = QStringLiteral(BIN_DIR "/tovrin3-decode");

// Arguments written as one text, split at spaces.
QStringList words(const char *text)
{
    return QString::fromUtf8(text).split(u' ', Qt::SkipEmptyParts);
}

// Three passes, each in a file of its own, as a station writes them.
const QList<std::pair<QString, QByteArray>> PassFiles{
    {u"a.txt"_qs, "2026-12-06T18:57:44Z|QT7XMRKT3HKD 900140010C6A00A503\n"
                  "2026-12-06T18:58:14Z|QT7XMRKT3HKD 900140010C6B00A503\n"
                  "2026-12-06T18:58:44Z|QT7XMRKT3HKD 0008400A0C6B01A500\n"},
    {u"b.txt"_qs, "2026-12-06T19:40:00Z|QT7XMRKT3HKD 900140010C7001A502\n"
                  "2026-12-06T19:41:00Z|QT7XMRKT3HKD 900140010C7102A501\n"},
    {u"c.txt"_qs, "2026-12-07T03:00:00.500Z|QT7XMRKT3HKD 900140010C5000A503\n"
                  "2026-12-07T03:00:30.250Z|QT7XMRKT3HKD 900140010C5100A507\n"},
};

// A station whose log holds the three passes, logged by tovrin3-decode --log from their files;
// the working folder is the station's, so that files are named as the log names them.
struct LoggedStation
{
    StationHome home;
    bool ready = false;

    LoggedStation()
    {
        QStringList names;
        for (const auto &[name, content] : PassFiles) {
            if (!writeFile(home.path(name), content))
                return;
            names.append(name);
        }
        if (!writeFile(home.path(u"empty.txt"_qs), {}) || !QDir::setCurrent(home.path(u""_qs)))
            return;
        ready =
            runProgram(Program, QStringList{u"--log"_qs} + names, home.environment()).exitCode == 0;
    }

    ProgramRun run(const QStringList &arguments) const
    {
        return runProgram(Program, arguments, home.environment());
    }
};

} // namespace

class TestLogExport : public QObject
{
    Q_OBJECT

private slots:
    // The logged frames of a range are the rows of decoding the files that hold them, as CSV.
    void writesWhatTheFilesDecodeTo_data()
    {
        QTest::addColumn<QStringList>("range");
        QTest::addColumn<QStringList>("files");

        QTest::newRow("all") << QStringList{} << words("a.txt b.txt c.txt");
        QTest::newRow("until a pass's first frame leaves it out; no zone is UTC")
            << QStringList{u"--until"_qs, u"2026-12-06 19:40:00"_qs} << words("a.txt empty.txt");
        QTest::newRow("a date alone, and a zone offset")
            << words("--since 2026-12-07 --until 2026-12-07T05:00:31+02:00")
            << words("c.txt empty.txt");
    }

    void writesWhatTheFilesDecodeTo()
    {
        QFETCH(QStringList, range);
        QFETCH(QStringList, files);
        const LoggedStation station;
        QVERIFY(station.ready);
        const ProgramRun fromLog = station.run(words("--from-log --format csv") + range);
        QVERIFY2(fromLog.exitCode == 0, fromLog.errors.constData());
        QVERIFY(fromLog.errors.isEmpty());
        const ProgramRun decoded = station.run(words("--format csv") + files);
        QCOMPARE(decoded.exitCode, 0);
        QCOMPARE(fromLog.output, decoded.output);
    }

    void listsPasses()
    {
        const LoggedStation station;
        QVERIFY(station.ready);
        const ProgramRun run = station.run(words("--passes --format csv"));
        QCOMPARE(run.exitCode, 0);
        const QList<QByteArray> lines = run.output.split('\n');
        QCOMPARE(lines.size(), 5);
        QVERIFY(lines[1].startsWith("2026-12-06T18:57:44Z,2026-12-06T18:58:44Z,3,"));
        QVERIFY(lines[1].endsWith(",a.txt"));
        QVERIFY(lines[2].startsWith("2026-12-06T19:40:00Z,2026-12-06T19:41:00Z,2,"));
        QVERIFY(lines[3].startsWith("2026-12-07T03:00:00.500Z,2026-12-07T03:00:30.250Z,2,"));
    }

    // Exit status and one message for what cannot be done.
    void refuses_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("logContent"); // empty: the log of the three passes
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");

        QTest::newRow("a time that is none")
            << words("--from-log --since yesterday") << QByteArray() << 2 << u"'yesterday'"_qs;
        QTest::newRow("month 13") << words("--passes --until 2026-13-01") << QByteArray() << 2
                                  << u"'2026-13-01'"_qs;
        QTest::newRow("--since without --from-log") << words("--since 2026-12-06") << QByteArray()
                                                    << 2 << u"--since goes with --from-log"_qs;
        QTest::newRow("a FILE with --from-log")
            << words("--from-log a.txt") << QByteArray() << 2 << u"FILE"_qs;
        QTest::newRow("with --submit")
            << words("--from-log --submit") << QByteArray() << 2 << u"--submit"_qs;
        QTest::newRow("a log that is no database")
            << words("--from-log") << QByteArray(4096, 'x') << 1 << u"not a database"_qs;
    }

    void refuses()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, logContent);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        const LoggedStation station;
        QVERIFY(station.ready);
        if (!logContent.isEmpty()) {
            QVERIFY(QFile::remove(station.home.logPath()));
            QVERIFY(writeFile(station.home.logPath(), logContent));
        }
        const ProgramRun run = station.run(arguments);
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY(run.output.isEmpty());
        QVERIFY2(QString::fromUtf8(run.errors).contains(message), run.errors.constData());
        if (exitCode == 1)
            QCOMPARE(run.errors.count('\n'), 1);
    }

    void readsNoLogYetAsEmpty()
    {
        StationHome home;
        const ProgramRun run =
            runProgram(Program, words("--from-log --format csv"), home.environment());
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.output.startsWith("source,frame,timestamp,"));
        QCOMPARE(run.output.count('\n'), 1);
        QVERIFY(!QFileInfo::exists(home.logPath()));
    }
};

QTEST_GUILESS_MAIN(TestLogExport)
#include "tst_logexport.moc"
