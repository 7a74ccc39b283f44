// SPDX-License-Identifier: GPL-3.0-or-later
// Builds the Debian package of this build, unpacks it into a temporary root and checks it as a
// Debian packager would: the files and where they go, the control fields, the checkers'
// verdicts, and that installing and purging it leaves nothing behind.
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QImageReader>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

namespace {

struct Finished
{
    int exitCode = -1;
    QString output;
    QString errors;
};

Finished run(const QString &program, const QStringList &arguments,
             const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(240'000))
        return {-1, {}, program + " did not finish: " + process.errorString()};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

QString described(const Finished &finished)
{
    return QStringLiteral("status %1\n%2%3")
        .arg(finished.exitCode)
        .arg(finished.output, finished.errors);
}

// The checkers come with the build's dependencies; without one a check is skipped, never passed.
bool haveProgram(const QString &name)
{
    return !QStandardPaths::findExecutable(name).isEmpty();
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

} // namespace

class TestPackage : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_work;
    QString m_package;
    QString m_root;

    QString field(const QString &name) const
    {
        const Finished value = run("dpkg-deb", {"-f", m_package, name});
        return value.exitCode == 0 ? value.output.trimmed() : QString();
    }

    QString installed(const QString &path) const { return m_root + '/' + path; }

private slots:
    void initTestCase()
    {
        QVERIFY(m_work.isValid());
        const Finished packed = run("cpack", {"--config", BUILD_DIR "/CPackConfig.cmake", "-G",
                                              "DEB", "-B", m_work.filePath("package")});
        QVERIFY2(packed.exitCode == 0, qPrintable(described(packed)));
        const QStringList packages =
            QDir(m_work.filePath("package")).entryList({"tovrin3_*.deb"}, QDir::Files);
        QCOMPARE(packages.size(), 1);
        m_package = m_work.filePath("package/" + packages.first());
        m_root = m_work.filePath("root");
        const Finished unpacked = run("dpkg-deb", {"-x", m_package, m_root});
        QVERIFY2(unpacked.exitCode == 0, qPrintable(described(unpacked)));
    }

    // The package holds these and nothing else: a file elsewhere would be one that removing
    // the package leaves behind. The manual pages follow the sources, and usr/bin holds
    // programs the build made (the tests below name those it must hold).
    void holdsExactlyItsFiles()
    {
        QStringList expected = {
            "usr/lib/tovrin3/nconvert",
            "usr/lib/tovrin3/tovrin3",
            "usr/share/applications/tovrin3.desktop",
            "usr/share/doc/tovrin3/README.md",
            "usr/share/doc/tovrin3/changelog.gz",
            "usr/share/doc/tovrin3/copyright",
            "usr/share/icons/hicolor/128x128/apps/tovrin3.png",
            "usr/share/icons/hicolor/256x256/apps/tovrin3.png",
            "usr/share/icons/hicolor/64x64/apps/tovrin3.png",
            "usr/share/metainfo/org.example.tovrin3.metainfo.xml",
        };
        expected += manualPages();
        QStringList found = filesBelow(m_root);
        found.removeIf([](const QString &path) {
            return path.startsWith(u"usr/bin/") && QFileInfo::exists(BIN_DIR "/" + path.mid(8));
        });
        expected.sort();
        QCOMPARE(found, expected);
    }

    void everyProgramOnThePathHasAManualPage()
    {
        for (const QString &program : QDir(installed("usr/bin")).entryList(QDir::Files)) {
            const QString page = installed("usr/share/man/man1/" + program + ".1.gz");
            QVERIFY2(QFileInfo::exists(page), qPrintable(program));
        }
    }

    void windowProgramLinkLeadsBesideTheConverter()
    {
        const QFileInfo link(installed("usr/bin/tovrin3"));
        QVERIFY(link.isSymLink());
        QCOMPARE(link.canonicalFilePath(),
                 QFileInfo(installed("usr/lib/tovrin3/tovrin3")).canonicalFilePath());
    }

    void programsAreStripped_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("window program") << "usr/lib/tovrin3/tovrin3";
        QTest::newRow("converter") << "usr/lib/tovrin3/nconvert";
        QTest::newRow("decoder") << "usr/bin/tovrin3-decode";
    }

    void programsAreStripped()
    {
        QFETCH(QString, path);
        const Finished kind = run("file", {"-b", installed(path)});
        QVERIFY2(kind.output.contains(u"ELF") && kind.output.contains(u", stripped"),
                 qPrintable(kind.output));
    }

    void compressedDocuments_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("changelog") << "usr/share/doc/tovrin3/changelog.gz";
        for (const QString &page : manualPages())
            QTest::newRow(qPrintable(page)) << page;
    }

    void compressedDocuments()
    {
        QFETCH(QString, path);
        const Finished test = run("gzip", {"-t", installed(path)});
        QVERIFY2(test.exitCode == 0, qPrintable(described(test)));
    }

    void iconsAreTransparentInTheirSizes_data()
    {
        QTest::addColumn<int>("side");
        QTest::newRow("64") << 64;
        QTest::newRow("128") << 128;
        QTest::newRow("256") << 256;
    }

    void iconsAreTransparentInTheirSizes()
    {
        QFETCH(int, side);
        const QImage icon(
            installed(QStringLiteral("usr/share/icons/hicolor/%1x%1/apps/tovrin3.png").arg(side)));
        QCOMPARE(icon.size(), QSize(side, side));
        QVERIFY(icon.hasAlphaChannel());
        QCOMPARE(icon.pixelColor(0, 0).alpha(), 0);
    }

    // No maintainer scripts and no configuration files: removing the package removes exactly
    // its files.
    void hasNoMaintainerScripts()
    {
        const QString control = m_work.filePath("control");
        const Finished extracted = run("dpkg-deb", {"-e", m_package, control});
        QVERIFY2(extracted.exitCode == 0, qPrintable(described(extracted)));
        QCOMPARE(QDir(control).entryList(QDir::Files, QDir::Name),
                 QStringList({"control", "md5sums"}));
    }

    void controlFields_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("value");
        QTest::newRow("package") << "Package"
                                 << "tovrin3";
        QTest::newRow("version") << "Version"
                                 << "0.3";
        QTest::newRow("architecture")
            << "Architecture" << run("dpkg", {"--print-architecture"}).output.trimmed();
    }

    void controlFields()
    {
        QFETCH(QString, name);
        QFETCH(QString, value);
        QCOMPARE(field(name), value);
    }

    // The libraries the programs link, found by dpkg-shlibdeps; the X11 platform plugin comes
    // with libqt6gui6, so no platform plugin package is named.
    void dependsOnTheLinkedLibraries()
    {
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
    }

    void descriptionFitsTheScreen()
    {
        const QStringList lines = field("Description").split('\n');
        QVERIFY(lines.size() > 1);
        QCOMPARE(lines.first(), QStringLiteral("KAMO TOVRIN-III CW beacon telemetry decoder"));
        for (const QString &line : lines)
            QVERIFY2(line.size() <= 80, qPrintable(line));
    }

    // As dpkg-gencontrol counts it: every file in whole KiB, rounded up, and one KiB for every
    // link and every folder, the root included.
    void installedSizeIsTrue()
    {
        qint64 kibibytes = 1;
        QDirIterator it(m_root,
                        QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QFileInfo entry(it.next());
            if (entry.isSymLink())
                kibibytes += 1; // its target's name, well under 1 KiB
            else if (entry.isDir())
                kibibytes += 1;
            else
                kibibytes += (entry.size() + 1023) / 1024;
        }
        QCOMPARE(field("Installed-Size").toLongLong(), kibibytes);
    }

    void installedProgramsShowVersionAndLicence_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("firstLine");
        QTest::addColumn<bool>("licence");
        QTest::newRow("decoder") << "usr/bin/tovrin3-decode"
                                 << "tovrin3-decode 0.3" << true;
        QTest::newRow("window program") << "usr/lib/tovrin3/tovrin3"
                                        << "tovrin3 0.3" << true;
        QTest::newRow("CW copier") << "usr/bin/tovrin3-cw"
                                   << "tovrin3-cw 0.3" << true;
        QTest::newRow("converter") << "usr/lib/tovrin3/nconvert"
                                   << "nconvert (tovrin3) 0.3" << true;
    }

    void installedProgramsShowVersionAndLicence()
    {
        QFETCH(QString, path);
        QFETCH(QString, firstLine);
        QFETCH(bool, licence);
        const Finished version = run(installed(path), {"--version"});
        QCOMPARE(version.exitCode, 0);
        QCOMPARE(version.output.section('\n', 0, 0), firstLine);
        QCOMPARE(version.output.contains(u"License GPL-3.0-or-later"), licence);
    }

    // dpkg with a database of its own in a temporary root, as root or not, so that nothing
    // reaches this system. The libraries the package depends on are not in that database.
    void purgeLeavesNothingBehind()
    {
        const QString system = m_work.filePath("system");
        const QString database = system + "/var/lib/dpkg";
        QVERIFY(QDir().mkpath(database + "/info") && QDir().mkpath(database + "/updates"));
        QFile status(database + "/status");
        QVERIFY(status.open(QIODevice::WriteOnly));
        status.close();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", m_work.path());
        const QStringList dpkg = {"--root=" + system, "--log=/dev/null", "--force-not-root",
                                  "--force-script-chrootless"};

        const Finished installing =
            run("dpkg", dpkg + QStringList{"--force-depends", "--install", m_package}, environment);
        QVERIFY2(installing.exitCode == 0, qPrintable(described(installing)));
        QVERIFY(QFileInfo::exists(system + "/usr/lib/tovrin3/tovrin3"));
        const Finished purging = run("dpkg", dpkg + QStringList{"--purge", "tovrin3"}, environment);
        QVERIFY2(purging.exitCode == 0, qPrintable(described(purging)));

        const auto entries = [](const QString &folder) {
            return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                          QDir::NoDotAndDotDot);
        };
        QCOMPARE(entries(system), QStringList{"var"});
        QCOMPARE(entries(system + "/var"), QStringList{"lib"});
        QCOMPARE(entries(system + "/var/lib"), QStringList{"dpkg"});
        QVERIFY(!QFileInfo::exists(database + "/info/tovrin3.list"));
    }

    void menuEntryIsValid()
    {
        if (!haveProgram("desktop-file-validate"))
            QSKIP("desktop-file-validate is not installed (scripts/install-deps brings it)");
        const Finished check =
            run("desktop-file-validate", {installed("usr/share/applications/tovrin3.desktop")});
        QVERIFY2(check.exitCode == 0 && check.output.isEmpty() && check.errors.isEmpty(),
                 qPrintable(described(check)));
    }

    void metainfoIsValid()
    {
        if (!haveProgram("appstreamcli"))
            QSKIP("appstreamcli is not installed (scripts/install-deps brings it)");
        const Finished check =
            run("appstreamcli", {"validate", "--no-net", "--pedantic",
                                 installed("usr/share/metainfo/org.example.tovrin3.metainfo.xml")});
        const bool complaints = check.output.contains(
            QRegularExpression(QStringLiteral("^[EW]: "), QRegularExpression::MultilineOption));
        QVERIFY2(check.exitCode == 0 && !complaints, qPrintable(described(check)));
    }

    // Informational notes may remain; no warning and no error.
    void lintianFindsNothingToFault()
    {
        if (!haveProgram("lintian"))
            QSKIP("lintian is not installed (scripts/install-deps brings it)");
        const Finished check = run("lintian", {"--fail-on", "error,warning", m_package});
        const bool complaints = check.output.contains(
            QRegularExpression(QStringLiteral("^[EW]: "), QRegularExpression::MultilineOption));
        QVERIFY2(check.exitCode == 0 && !complaints, qPrintable(described(check)));
    }
};

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"
