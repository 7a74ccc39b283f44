// SPDX-License-Identifier: GPL-3.0-or-later
// The window program's command line: files and --listen for the window, Qt's own options let
// through, and --help, --version, usage errors and a missing display answered without a window.
#include "processtesting.h"
#include "windowtesting.h"

using namespace tovrin3;
using namespace tovrin3::testing;

namespace {

using Action = StartOptions::Action;

const QString Program = QStringLiteral(BIN_DIR "/tovrin3");

// The program without a display, a platform or a sound server of this process's; `assignments`
// then set what a row needs, and ">FILE" sends its standard output to FILE.
ProgramRun runWindowProgram(const QStringList &arguments, const QStringList &assignments)
{
    QProcessEnvironment environment = environmentWithoutDisplay();
    for (const QString &assignment : assignments) {
        if (assignment.startsWith(u'>'))
            return runWithOutputTo(Program, arguments, assignment.mid(1), environment);
        environment.insert(assignment.section('=', 0, 0), assignment.section('=', 1));
    }
    return runProgram(Program, arguments, environment);
}

} // namespace

class TestStartOptions : public QObject
{
    Q_OBJECT

private slots:
    // --help, --version and a missing display through the program itself: answersWithoutWindow.
    void readsArguments_data()
    {
        QTest::addColumn<QByteArrayList>("arguments");
        QTest::addColumn<Action>("action");
        QTest::addColumn<bool>("listen");
        QTest::addColumn<QByteArrayList>("files");

        QTest::newRow("nothing") << QByteArrayList() << Action::Run << false << QByteArrayList();
        QTest::newRow("files in order") << QByteArrayList{"b.wav", "a.txt"} << Action::Run << false
                                        << QByteArrayList{"b.wav", "a.txt"};
        QTest::newRow("listen with a file") << QByteArrayList{"--listen", "a.txt"} << Action::Run
                                            << true << QByteArrayList{"a.txt"};
        QTest::newRow("a file named like an option after --")
            << QByteArrayList{"--", "--listen"} << Action::Run << false
            << QByteArrayList{"--listen"};
        QTest::newRow("Qt's own options pass")
            << QByteArrayList{"-platform", "offscreen", "-style", "fusion", "x.txt"} << Action::Run
            << false << QByteArrayList{"x.txt"};
        QTest::newRow("version") << QByteArrayList{"-V", "a.txt"} << Action::ShowVersion << false
                                 << QByteArrayList();
        QTest::newRow("value for a flag")
            << QByteArrayList{"--listen=yes"} << Action::RejectUsage << false << QByteArrayList();
        QTest::newRow("names that are not UTF-8 keep their bytes")
            << QByteArrayList{"pass\xFF.txt", "--listen", "--", "\xFF", "caf\xE9.wav"}
            << Action::Run << true << QByteArrayList{"pass\xFF.txt", "\xFF", "caf\xE9.wav"};
        QTest::newRow("a name decoded like the one before it")
            << QByteArrayList{"a\xFE", "a\xFF"} << Action::Run << false
            << QByteArrayList{"a\xFE", "a\xFF"};
    }

    void readsArguments()
    {
        QFETCH(QByteArrayList, arguments);
        QFETCH(Action, action);
        QFETCH(bool, listen);
        QFETCH(QByteArrayList, files);

        const StartOptions options = startOptionsFrom(QByteArrayList{"tovrin3"} + arguments);

        QCOMPARE(options.action, action);
        QCOMPARE(options.listen, listen);
        QCOMPARE(options.files, files);
        QCOMPARE(options.usageError.isEmpty(), action != Action::RejectUsage);
    }

    void displayIsNeededOnlyWithoutPlatform_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<bool>("missing");

        QTest::newRow("empty DISPLAY") << QStringList() << QStringList{"DISPLAY="} << true;
        QTest::newRow("X11") << QStringList() << QStringList{"DISPLAY=:0"} << false;
        QTest::newRow("Wayland") << QStringList() << QStringList{"WAYLAND_DISPLAY=wayland-0"}
                                 << false;
        QTest::newRow("platform variable")
            << QStringList() << QStringList{"QT_QPA_PLATFORM=offscreen"} << false;
        QTest::newRow("platform option")
            << QStringList{"-platform", "offscreen"} << QStringList() << false;
    }

    void displayIsNeededOnlyWithoutPlatform()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, environment);
        QFETCH(bool, missing);
        QProcessEnvironment variables;
        for (const QString &assignment : environment)
            variables.insert(assignment.section('=', 0, 0), assignment.section('=', 1));

        const QString problem =
            missingDisplay(parseStartOptions(QStringList{"tovrin3"} + arguments), variables);

        QCOMPARE(!problem.isEmpty(), missing);
        QVERIFY(!problem.contains('\n'));
    }

    // No row has a display: help, version and usage errors must not need one.
    void answersWithoutWindow_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("error");

        QTest::newRow("help") << QStringList{"--help"} << QStringList() << 0 << "--listen"
                              << "";
        QTest::newRow("version names the licence")
            << QStringList{"--version"} << QStringList() << 0
            << "tovrin3 0.3\nCopyright (C) 2017-2026 NOCALL\nLicense GPL-3.0-or-later"
            << "";
        QTest::newRow("unknown option is a usage error")
            << QStringList{"--bogus"} << QStringList() << 2 << ""
            << "tovrin3: unknown option '--bogus'\nTry 'tovrin3 --help'";
        QTest::newRow("no display") << QStringList{"a.txt"} << QStringList() << 1 << ""
                                    << "tovrin3: no display to open the window on";
        QTest::newRow("a display that cannot be reached")
            << QStringList() << QStringList{"DISPLAY=:97"} << 1 << ""
            << "tovrin3: no display could be opened (DISPLAY=:97)";
        // As "ls --help >/dev/full" and the other programs of this package: a help or version that
        // cannot be written is a failure, named on standard error.
        for (const char *option : {"--help", "--version"})
            QTest::addRow("%s to a full disk", option)
                << QStringList{option} << QStringList{">/dev/full"} << 2 << ""
                << "tovrin3: standard output: ";
    }

    void answersWithoutWindow()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, environment);
        QFETCH(int, status);
        QFETCH(QString, output);
        QFETCH(QString, error);

        const ProgramRun run = runWindowProgram(arguments, environment);

        QCOMPARE(run.exitCode, status);
        QVERIFY2(run.output.contains(output.toLocal8Bit()), run.output.constData());
        QVERIFY2(error.isEmpty() ? run.errors.isEmpty()
                                 : run.errors.startsWith(error.toLocal8Bit()),
                 run.errors.constData());
        QCOMPARE(run.errors.count('\n'), error.isEmpty() ? 0 : error.count('\n') + 1);
    }
};

QTEST_GUILESS_MAIN(TestStartOptions)
#include "tst_startoptions.moc"
