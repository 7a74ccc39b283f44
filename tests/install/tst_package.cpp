// Builds the Debian package of this build, unpacks it into a temporary root and runs the
// installed command-line decoder from there.
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Finished
{
    int exitCode = -1;
    QString output;
};

Finished run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(240'000))
        return {};
    return {process.exitCode(), QString::fromUtf8(process.readAll())};
}

} // namespace

class TestPackage : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_work;
    QString m_package;
    QString m_root;

private slots:
    void initTestCase()
    {
        QVERIFY(m_work.isValid());
        const Finished packed = run("cpack", {"--config", BUILD_DIR "/CPackConfig.cmake", "-G",
                                              "DEB", "-B", m_work.filePath("package")});
        QVERIFY2(packed.exitCode == 0, qPrintable(packed.output));
        const QStringList packages =
            QDir(m_work.filePath("package")).entryList({"tovrin3_*.deb"}, QDir::Files);
        QCOMPARE(packages.size(), 1);
        m_package = m_work.filePath("package/" + packages.first());
        m_root = m_work.filePath("root");
        const Finished unpacked = run("dpkg-deb", {"-x", m_package, m_root});
        QVERIFY2(unpacked.exitCode == 0, qPrintable(unpacked.output));
    }

    void installsWhereADesktopExpects_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("decoder on the PATH") << "usr/bin/tovrin3-decode";
        QTest::newRow("CW copier on the PATH") << "usr/bin/tovrin3-cw";
        QTest::newRow("window program link") << "usr/bin/tovrin3";
        QTest::newRow("window program") << "usr/lib/tovrin3/tovrin3";
        QTest::newRow("converter beside the program") << "usr/lib/tovrin3/nconvert";
        QTest::newRow("menu entry") << "usr/share/applications/tovrin3.desktop";
        QTest::newRow("icon") << "usr/share/icons/hicolor/64x64/apps/tovrin3.png";
        QTest::newRow("manual page") << "usr/share/man/man1/tovrin3-decode.1";
        QTest::newRow("CW copier's manual page") << "usr/share/man/man1/tovrin3-cw.1";
    }

    void installsWhereADesktopExpects()
    {
        QFETCH(QString, path);
        QVERIFY2(QFileInfo::exists(m_root + '/' + path), qPrintable(path));
    }

    void windowProgramLinkLeadsBesideTheConverter()
    {
        const QFileInfo link(m_root + "/usr/bin/tovrin3");
        QVERIFY(link.isSymLink());
        QCOMPARE(link.canonicalFilePath(),
                 QFileInfo(m_root + "/usr/lib/tovrin3/tovrin3").canonicalFilePath());
    }

    void dependsOnQt()
    {
        const Finished depends = run("dpkg-deb", {"-f", m_package, "Depends"});
        QCOMPARE(depends.exitCode, 0);
        for (const char *package :
             {"libqt6core6", "libqt6widgets6", "libqt6charts6", "qt6-qpa-plugins"})
            QVERIFY2(depends.output.contains(QLatin1StringView(package)),
                     qPrintable(depends.output));
    }

    void installedDecoderRuns()
    {
        const Finished version = run(m_root + "/usr/bin/tovrin3-decode", {"--version"});
        QCOMPARE(version.exitCode, 0);
        QCOMPARE(version.output.trimmed(), QString("tovrin3-decode 0.3"));
    }
};

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"
