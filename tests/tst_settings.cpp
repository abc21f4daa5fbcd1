// The per-user settings reader: where the file is, and what GetSetting reads from it. The tests
// point HOME and XDG_CONFIG_HOME at folders of their own, never at the user's settings.
#include "Settings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class tst_Settings : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void settingsFilePath_data();
    void settingsFilePath();
    void getSetting_data();
    void getSetting();
    void missingFileReadsEmptyAndMakesNothing();
    void settingsFileThatIsAFolder();
    void readsFromHomeWhenXdgIsUnset();

private:
    void writeSettings(const QByteArray &content) const;

    QTemporaryDir m_home;
    QTemporaryDir m_config;
};

void tst_Settings::initTestCase()
{
    QVERIFY(m_home.isValid() && m_config.isValid());
    qputenv("HOME", QFile::encodeName(m_home.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
}

void tst_Settings::cleanup()
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    QFile::remove(m_config.filePath(QStringLiteral("OLBRA.ini")));
    QDir(m_config.filePath(QStringLiteral("OLBRA.ini"))).removeRecursively();
}

void tst_Settings::writeSettings(const QByteArray &content) const
{
    QFile file(m_config.filePath(QStringLiteral("OLBRA.ini")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(content), content.size());
}

void tst_Settings::settingsFilePath_data()
{
    QTest::addColumn<bool>("set");
    QTest::addColumn<QString>("xdgConfigHome"); // @home and @config stand for the test's folders
    QTest::addColumn<QString>("path");

    QTest::newRow("XDG_CONFIG_HOME set") << true << "@config" << "@config/OLBRA.ini";
    QTest::newRow("XDG_CONFIG_HOME unset") << false << "" << "@home/.config/OLBRA.ini";
    QTest::newRow("XDG_CONFIG_HOME empty") << true << "" << "@home/.config/OLBRA.ini";
    QTest::newRow("XDG_CONFIG_HOME relative") << true << "config" << "@home/.config/OLBRA.ini";
}

void tst_Settings::settingsFilePath()
{
    QFETCH(bool, set);
    QFETCH(QString, xdgConfigHome);
    QFETCH(QString, path);

    const auto expand = [&](QString text) {
        return text.replace(QStringLiteral("@home"), m_home.path()).replace(QStringLiteral("@config"), m_config.path());
    };
    if (set)
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(expand(xdgConfigHome)));
    else
        qunsetenv("XDG_CONFIG_HOME");
    QCOMPARE(olbra::settingsFilePath(QStringLiteral("OLBRA")), expand(path));
}

void tst_Settings::getSetting_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");

    const QString section = QStringLiteral("ZRVData");
    const QString key = QStringLiteral("DataPath");
    QTest::newRow("the setting") << QByteArray("[ZRVData]\nDataPath=C:\\OLBRA\\OLBRAData.mdb\n") << section << key
                                 << "C:\\OLBRA\\OLBRAData.mdb";
    QTest::newRow("missing section") << QByteArray("[Other]\nDataPath=/data\n") << section << key << "";
    QTest::newRow("missing key") << QByteArray("[ZRVData]\nDataDir=/data\n") << section << key << "";
    QTest::newRow("empty file") << QByteArray() << section << key << "";
    QTest::newRow("section in another case") << QByteArray("[zrvdata]\nDataPath=/data\n") << section << key << "/data";
    QTest::newRow("key in another case") << QByteArray("[ZRVData]\nDATAPATH=/data\n") << section << key << "/data";
    QTest::newRow("asked in another case") << QByteArray("[ZRVData]\nDataPath=/data\n") << "ZRVDATA" << "datapath" << "/data";
    QTest::newRow("value keeps its case") << QByteArray("[ZRVData]\nDataPath=/Data/OLBRA\n") << section << key << "/Data/OLBRA";
    QTest::newRow("blanks around names and value") << QByteArray("  [ ZRVData ]  \n\t DataPath  =  /data/olbra  \n") << section << key
                                                   << "/data/olbra";
    QTest::newRow("blank inside the value") << QByteArray("[ZRVData]\nDataPath=/my data/OLBRA\n") << section << key << "/my data/OLBRA";
    QTest::newRow("comma in the value") << QByteArray("[ZRVData]\nDataPath=/data,old\n") << section << key << "/data,old";
    QTest::newRow("equals sign in the value") << QByteArray("[ZRVData]\nDataPath=/data=x\n") << section << key << "/data=x";
    QTest::newRow("semicolon in the value") << QByteArray("[ZRVData]\nDataPath=/data;x\n") << section << key << "/data;x";
    QTest::newRow("quoted value") << QByteArray("[ZRVData]\nDataPath=\"C:\\Program Files\\OLBRA\"\n") << section << key
                                  << "C:\\Program Files\\OLBRA";
    QTest::newRow("empty value") << QByteArray("[ZRVData]\nDataPath=\n") << section << key << "";
    QTest::newRow("the key in an earlier section") << QByteArray("[Other]\nDataPath=wrong\n[ZRVData]\nDataPath=right\n") << section << key
                                                   << "right";
    QTest::newRow("the key in a later section") << QByteArray("[ZRVData]\nOther=1\n[Next]\nDataPath=wrong\n") << section << key << "";
    QTest::newRow("the key before any section") << QByteArray("DataPath=wrong\n[ZRVData]\n") << section << key << "";
    QTest::newRow("the first of two") << QByteArray("[ZRVData]\nDataPath=first\nDataPath=second\n") << section << key << "first";
    QTest::newRow("commented out") << QByteArray("[ZRVData]\n;DataPath=semicolon\n#DataPath=hash\n") << section << key << "";
    QTest::newRow("Windows line ends") << QByteArray("[ZRVData]\r\nDataPath=/data\r\n") << section << key << "/data";
    QTest::newRow("no line end at the end") << QByteArray("[ZRVData]\nDataPath=/data") << section << key << "/data";
    QTest::newRow("byte order mark") << QByteArray("\xEF\xBB\xBF[ZRVData]\nDataPath=/data\n") << section << key << "/data";
    QTest::newRow("UTF-8 value") << QByteArray("[ZRVData]\nDataPath=/donn\xC3\xA9""es/OLBRA\n") << section << key
                                 << QString::fromUtf8("/donn\xC3\xA9""es/OLBRA");
    QTest::newRow("unclosed section header") << QByteArray("[ZRVData\nDataPath=/data\n") << section << key << "";
    QTest::newRow("line without equals sign") << QByteArray("[ZRVData]\nDataPath\nDataPath=/data\n") << section << key << "/data";
}

void tst_Settings::getSetting()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);

    writeSettings(content);
    QCOMPARE(olbra::GetSetting(QStringLiteral("OLBRA"), section, key), value);
    // Reading writes nothing back.
    QFile file(m_config.filePath(QStringLiteral("OLBRA.ini")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), content);
}

void tst_Settings::missingFileReadsEmptyAndMakesNothing()
{
    const QStringList before = QDir(m_config.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    QCOMPARE(olbra::GetSetting(QStringLiteral("OLBRA"), QStringLiteral("ZRVData"), QStringLiteral("DataPath")), QString());
    QCOMPARE(QDir(m_config.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), before);
}

void tst_Settings::settingsFileThatIsAFolder()
{
    QVERIFY(QDir(m_config.path()).mkdir(QStringLiteral("OLBRA.ini")));
    QCOMPARE(olbra::GetSetting(QStringLiteral("OLBRA"), QStringLiteral("ZRVData"), QStringLiteral("DataPath")), QString());
}

void tst_Settings::readsFromHomeWhenXdgIsUnset()
{
    qunsetenv("XDG_CONFIG_HOME");
    writeSettings("[ZRVData]\nDataPath=wrong\n");
    QVERIFY(QDir(m_home.path()).mkpath(QStringLiteral(".config")));
    QFile file(m_home.filePath(QStringLiteral(".config/OLBRA.ini")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[ZRVData]\nDataPath=/from/home\n");
    file.close();

    QCOMPARE(olbra::GetSetting(QStringLiteral("OLBRA"), QStringLiteral("ZRVData"), QStringLiteral("DataPath")), QStringLiteral("/from/home"));
    QVERIFY(file.remove());
}

QTEST_GUILESS_MAIN(tst_Settings)
#include "tst_settings.moc"
