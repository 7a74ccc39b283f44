// SPDX-License-Identifier: GPL-3.0-or-later
// Builds the Debian package of this build, unpacks it into a temporary root and checks it as a
// Debian packager would: the files and where they go, the control fields, the checkers'
// verdicts, and that installing and purging it leaves nothing behind.
#include "filetesting.h"
#include "processtesting.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

using namespace tovrin3::testing;

namespace {

// cpack and lintian take minutes on a busy machine.
ProgramRun run(const QString &program, const QStringList &arguments,
               const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    return runProgram(program, arguments, environment, {}, 240'000);
}

QByteArray described(const ProgramRun &finished)
{
    return "status " + QByteArray::number(finished.exitCode) + '\n' + finished.output +
           finished.errors;
}

// Every file and link below root, relative to it, sorted.
QStringList filesBelow(const QString &root)
{
    QStringList files;
    QDirIterator it(root, QDir::Files | QDir::System | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(QDir(root).relativeFilePath(it.next()));
    files.sort();
    return files;
}

// The manual pages the sources hold; each is installed, compressed.
QStringList manualPages()
{
    QStringList pages;
    for (const QString &page :
         QDir(QStringLiteral(TEST_DATA_DIR "/../../docs")).entryList({"*.1"}, QDir::Files))
        pages.append("usr/share/man/man1/" + page + ".gz");
    return pages;
}

bool complains(const ProgramRun &check)
{
    return check.exitCode != 0 ||
           QString::fromUtf8(check.output)
               .contains(QRegularExpression(QStringLiteral("^[EW]: "),
                                            QRegularExpression::MultilineOption));
}

} // namespace

class TestPackage : public QObject
{
    Q_OBJECT

    QTemporaryDir m_work;
    QString m_package;
    QString m_root;

    QString field(const QString &name) const
    {
        const ProgramRun value = run("dpkg-deb", {"-f", m_package, name});
        return value.exitCode == 0 ? QString::fromUtf8(value.output).trimmed() : QString();
    }

    QString installed(const QString &path) const { return m_root + '/' + path; }

private slots:
    void initTestCase()
    {
        QVERIFY(m_work.isValid());
        const ProgramRun packed = run("cpack", {"--config", BUILD_DIR "/CPackConfig.cmake", "-G",
                                                "DEB", "-B", m_work.filePath("package")});
        QVERIFY2(packed.exitCode == 0, described(packed).constData());
        const QStringList packages =
            QDir(m_work.filePath("package")).entryList({"tovrin3_*.deb"}, QDir::Files);
        QCOMPARE(packages.size(), 1);
        m_package = m_work.filePath("package/" + packages.first());
        m_root = m_work.filePath("root");
        const ProgramRun unpacked = run("dpkg-deb", {"-x", m_package, m_root});
        QVERIFY2(unpacked.exitCode == 0, described(unpacked).constData());
    }

    // The package holds these and nothing else: a file elsewhere would be one that removing
    // the package leaves behind. usr/bin holds programs the build made, each with its manual page,
    // and the window program there is a link to its place beside the converter.
    void holdsExactlyItsFiles()
    {
        QStringList expected = {"usr/share/applications/tovrin3.desktop",
                                "usr/share/metainfo/org.example.tovrin3.metainfo.xml"};
        for (const char *program : {"nconvert", "tovrin3"})
            expected << QStringLiteral("usr/lib/tovrin3/") + program;
        for (const char *document : {"README.md", "changelog.gz", "copyright"})
            expected << QStringLiteral("usr/share/doc/tovrin3/") + document;
        for (const char *size : {"64x64", "128x128", "256x256"})
            expected << QStringLiteral("usr/share/icons/hicolor/%1/apps/tovrin3.png").arg(size);
        expected += manualPages();
        QStringList found = filesBelow(m_root);
        found.removeIf([](const QString &path) {
            return path.startsWith(u"usr/bin/") && QFileInfo::exists(BIN_DIR "/" + path.mid(8));
        });
        expected.sort();
        QCOMPARE(found, expected);
        for (const QString &program : QDir(installed("usr/bin")).entryList(QDir::Files))
            QVERIFY2(QFileInfo::exists(installed("usr/share/man/man1/" + program + ".1.gz")),
                     qPrintable(program));
        const QFileInfo link(installed("usr/bin/tovrin3"));
        QVERIFY(link.isSymLink());
        QCOMPARE(link.canonicalFilePath(),
                 QFileInfo(installed("usr/lib/tovrin3/tovrin3")).canonicalFilePath());
    }

    // No maintainer scripts and no configuration files: removing the package removes exactly
    // its files. The libraries the programs link are named by dpkg-shlibdeps; the X11 platform
    // plugin comes with libqt6gui6, so no platform plugin package is named.
    void controlSaysWhatThePackageIs()
    {
        const QString control = m_work.filePath("control");
        const ProgramRun extracted = run("dpkg-deb", {"-e", m_package, control});
        QVERIFY2(extracted.exitCode == 0, described(extracted).constData());
        QCOMPARE(QDir(control).entryList(QDir::Files, QDir::Name),
                 QStringList({"control", "md5sums"}));
        QCOMPARE(field("Architecture"),
                 QString::fromUtf8(run("dpkg", {"--print-architecture"}).output.trimmed()));

        const QStringList depends =
            field("Depends").split(QRegularExpression(QStringLiteral(",\\s*")));
        for (const QString package : {"libc6", "libqt6core6", "libqt6gui6", "libqt6widgets6",
                                      "libqt6charts6", "libstdc++6"}) {
            const bool named = std::ranges::any_of(depends, [&package](const QString &entry) {
                return entry == package || entry.startsWith(package + ' ');
            });
            QVERIFY2(named, qPrintable(package + " missing from " + depends.join(", ")));
        }
        QVERIFY2(!depends.join(' ').contains(u"qt6-qpa-plugins"), qPrintable(depends.join(", ")));
        // As dpkg-gencontrol counts it: every file in whole KiB, rounded up, and one KiB for
        // every link and every folder, the root included.
        qint64 kibibytes = 1;
        QDirIterator it(m_root,
                        QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QFileInfo entry(it.next());
            kibibytes += entry.isSymLink() || entry.isDir() ? 1 : (entry.size() + 1023) / 1024;
        }
        QCOMPARE(field("Installed-Size").toLongLong(), kibibytes);
    }

    // The installed programs run from their place, and say the package's version and licence.
    void installedProgramsRun()
    {
        for (const char *path : {"usr/bin/tovrin3-decode", "usr/lib/tovrin3/tovrin3",
                                 "usr/bin/tovrin3-cw", "usr/lib/tovrin3/nconvert"}) {
            const ProgramRun version = run(installed(path), {"--version"});
            QVERIFY2(version.exitCode == 0, described(version).constData());
            QVERIFY2(version.output.contains(' ' + field("Version").toUtf8() + '\n') &&
                         version.output.contains("License GPL-3.0-or-later"),
                     described(version).constData());
        }
    }

    // dpkg with a database of its own in a temporary root, as root or not, so that nothing
    // reaches this system. The libraries the package depends on are not in that database.
    void purgeLeavesNothingBehind()
    {
        const QString system = m_work.filePath("system");
        const QString database = system + "/var/lib/dpkg";
        QVERIFY(QDir().mkpath(database + "/info") && QDir().mkpath(database + "/updates"));
        QVERIFY(writeFile(database + "/status", {}));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", m_work.path());
        const QStringList dpkg = {"--root=" + system, "--log=/dev/null", "--force-not-root",
                                  "--force-script-chrootless"};

        const ProgramRun installing =
            run("dpkg", dpkg + QStringList{"--force-depends", "--install", m_package}, environment);
        QVERIFY2(installing.exitCode == 0, described(installing).constData());
        QVERIFY(QFileInfo::exists(system + "/usr/lib/tovrin3/tovrin3"));
        const ProgramRun purging =
            run("dpkg", dpkg + QStringList{"--purge", "tovrin3"}, environment);
        QVERIFY2(purging.exitCode == 0, described(purging).constData());

        const auto entries = [](const QString &folder) {
            return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                          QDir::NoDotAndDotDot);
        };
        QCOMPARE(entries(system), QStringList{"var"});
        QCOMPARE(entries(system + "/var"), QStringList{"lib"});
        QCOMPARE(entries(system + "/var/lib"), QStringList{"dpkg"});
        QVERIFY(!QFileInfo::exists(database + "/info/tovrin3.list"));
    }

    // The checkers come with the build's dependencies; without one a check is skipped, never
    // passed. Informational notes may remain; no warning and no error.
    void checkersFindNothingToFault_data()
    {
        QTest::addColumn<QString>("checker");
        QTest::addColumn<QStringList>("arguments"); // the package's file appended when empty
        QTest::newRow("menu entry")
            << "desktop-file-validate" << QStringList{"usr/share/applications/tovrin3.desktop"};
        QTest::newRow("AppStream metadata")
            << "appstreamcli"
            << QStringList{"validate", "--no-net", "--pedantic",
                           "usr/share/metainfo/org.example.tovrin3.metainfo.xml"};
        QTest::newRow("lintian") << "lintian" << QStringList{"--fail-on", "error,warning"};
    }

    void checkersFindNothingToFault()
    {
        QFETCH(QString, checker);
        QFETCH(QStringList, arguments);
        if (QStandardPaths::findExecutable(checker).isEmpty())
            QSKIP(qPrintable(checker + " is not installed (scripts/install-deps brings it)"));
        if (checker == u"lintian")
            arguments.append(m_package);
        else
            arguments.last() = installed(arguments.last());
        const ProgramRun check = run(checker, arguments);
        QVERIFY2(!complains(check), described(check).constData());
        if (checker == u"desktop-file-validate")
            QVERIFY2(check.output.isEmpty() && check.errors.isEmpty(),
                     described(check).constData());
    }
};

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"
