#include "DataConnection.h"
#include "Platform.h"
#include "Settings.h"
#include "StandInPlatform.h"
#include "TestDatabase.h"
#include "frmUpdateMe.h"
#include "modPatch.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using olbra::BoxKind;
using olbra::Failure;

namespace {

// What start-up asks of the data connection, counted on the real component.
struct ConnectionLog {
    QStringList dataFiles;
    int opens = 0;
    int connectedReads = 0;
};

class CountingConnection : public olbra::DataConnection {
public:
    explicit CountingConnection(ConnectionLog &log) : m_log(log) {}
    void setDataFile(const QString &path) override
    {
        m_log.dataFiles.append(path);
        DataConnection::setDataFile(path);
    }
    void OpenConnection() override
    {
        ++m_log.opens;
        DataConnection::OpenConnection();
    }
    bool IsConnected() const override
    {
        ++m_log.connectedReads;
        return DataConnection::IsConnected();
    }

private:
    ConnectionLog &m_log;
};

// The patch window whose status bar refuses the version text.
class RefusingVersionWindow : public frmUpdateMe {
public:
    void setStatusPanelText(int panel, const QString &text) override
    {
        if (panel == 2)
            throw Failure(olbra::ErrorCode::InvalidPropertyValue, QStringLiteral("Invalid property value"));
        frmUpdateMe::setStatusPanelText(panel, text);
    }
};

enum class ProgramFolderHolds { Nothing, Database, TextFile };
enum class Setting { NoFile, NoSection, NoKey, ToDatabase, ToMissingFile };

const QString notFoundMessage = QStringLiteral(
    "OLBRA Patch failed to locate the OLBRAData.mdb data file... the patch cannot update OLBRA.\r\n"
    "Please be sure that OLBRA is installed on this computer and the patch EXE is copied to the folder that contains "
    "the OLBRA.EXE file. If you continue to experience problems, contact Corvane Technical Service.");

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
}

} // namespace

Q_DECLARE_METATYPE(ProgramFolderHolds)
Q_DECLARE_METATYPE(Setting)

class tst_startup : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startUp_data();
    void startUp();
    void patchTextsAndVersion();
    void readDataPath_data();
    void readDataPath();
    void readDataPathNeverWritesTheSettings();

private:
    QString settingsFile() const { return m_config->filePath(QStringLiteral("OLBRA.ini")); }

    std::unique_ptr<QTemporaryDir> m_config;
    std::unique_ptr<StandInPlatform> m_desktop;
};

void tst_startup::initTestCase()
{
    qRegisterMetaType<ProgramFolderHolds>();
    qRegisterMetaType<Setting>();
}

void tst_startup::init()
{
    modPatch::ResetPatchState();
    m_config = std::make_unique<QTemporaryDir>();
    QVERIFY(m_config->isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config->path()));
    m_desktop = std::make_unique<StandInPlatform>();
    modPatch::setWindowFactory([] { return std::make_unique<frmUpdateMe>(); });
}

void tst_startup::cleanup()
{
    modPatch::ResetPatchState();
    m_desktop.reset();
    m_config.reset();
}

void tst_startup::startUp_data()
{
    QTest::addColumn<bool>("programAtRoot");
    QTest::addColumn<ProgramFolderHolds>("programFolder");
    QTest::addColumn<Setting>("setting");
    QTest::addColumn<bool>("versionRefused");
    // Expected; {program} is the program folder, {data} the file the setting names.
    QTest::addColumn<QStringList>("dataFiles");
    QTest::addColumn<int>("opens");
    QTest::addColumn<int>("connectedReads");
    QTest::addColumn<QString>("errorBox");
    QTest::addColumn<bool>("notFoundBox");
    QTest::addColumn<bool>("ended");
    QTest::addColumn<QString>("panel1");
    QTest::addColumn<QString>("panel2");

    const QString program = QStringLiteral("{program}/OLBRAData.mdb");
    const QString data = QStringLiteral("{data}");
    const QString prompt = QStringLiteral("Click Apply to apply the patch.");
    const QString version = QStringLiteral("Ver: 1.0.76 ");

    QTest::newRow("database in the program folder, the setting unused")
        << false << ProgramFolderHolds::Database << Setting::ToDatabase << false
        << QStringList{program} << 1 << 2 << QString() << false << false << prompt << version;
    QTest::newRow("database only at the data path")
        << false << ProgramFolderHolds::Nothing << Setting::ToDatabase << false
        << QStringList{program, data} << 2 << 2 << QString() << false << false << prompt << version;
    QTest::newRow("no settings file: the empty text tried")
        << false << ProgramFolderHolds::Nothing << Setting::NoFile << false
        << QStringList{program, QString()} << 2 << 2 << QString() << true << true << QString() << QString();
    QTest::newRow("no ZRVData section: the empty text tried")
        << false << ProgramFolderHolds::Nothing << Setting::NoSection << false
        << QStringList{program, QString()} << 2 << 2 << QString() << true << true << QString() << QString();
    QTest::newRow("no DataPath key: the empty text tried")
        << false << ProgramFolderHolds::Nothing << Setting::NoKey << false
        << QStringList{program, QString()} << 2 << 2 << QString() << true << true << QString() << QString();
    QTest::newRow("neither place")
        << false << ProgramFolderHolds::Nothing << Setting::ToMissingFile << false
        << QStringList{program, data} << 2 << 2 << QString() << true << true << QString() << QString();
    QTest::newRow("program folder at the root: two separators in a row")
        << true << ProgramFolderHolds::Nothing << Setting::ToDatabase << false
        << QStringList{QStringLiteral("//OLBRAData.mdb"), data} << 2 << 2 << QString() << false << false << prompt << version;
    QTest::newRow("the version text refused: start-up goes on")
        << false << ProgramFolderHolds::Database << Setting::NoFile << true
        << QStringList{program} << 1 << 2
        << QStringLiteral("Error : 380 Invalid property value\r\nInitization Connection to DataFile")
        << false << false << prompt << QString();
    QTest::newRow("first OpenConnection fails: the data path not tried")
        << false << ProgramFolderHolds::TextFile << Setting::ToDatabase << false
        << QStringList{program} << 1 << 0
        << QStringLiteral("Error : -2147221478 The data file \"{program}/OLBRAData.mdb\" cannot be used: file is not a "
                          "database\r\nInitization Connection to DataFile")
        << false << true << QString() << QString();
}

void tst_startup::startUp()
{
    QFETCH(bool, programAtRoot);
    QFETCH(ProgramFolderHolds, programFolder);
    QFETCH(Setting, setting);
    QFETCH(bool, versionRefused);
    QFETCH(QStringList, dataFiles);
    QFETCH(int, opens);
    QFETCH(int, connectedReads);
    QFETCH(QString, errorBox);
    QFETCH(bool, notFoundBox);
    QFETCH(bool, ended);
    QFETCH(QString, panel1);
    QFETCH(QString, panel2);

    QTemporaryDir folders;
    QVERIFY(folders.isValid());
    const QString programDir = folders.filePath(QStringLiteral("OLBRA"));
    // A data path of its own making, with a blank and a "." that a tidied path would lose.
    const QString dataDir = folders.filePath(QStringLiteral("Product Data"));
    QVERIFY(QDir().mkpath(programDir));
    QVERIFY(QDir().mkpath(dataDir));
    const QString dataPath = dataDir + QStringLiteral("/./Lab Copy.mdb");

    if (programAtRoot) {
        QVERIFY2(!QFileInfo::exists(QStringLiteral("/OLBRAData.mdb")), "this machine has a database at the root");
        m_desktop->programFilePath = QStringLiteral("/OLBRADURADIRURI");
    } else {
        m_desktop->programFilePath = programDir + QStringLiteral("/OLBRADURADIRURI");
    }

    std::unique_ptr<TestDatabase> inProgramFolder;
    if (programFolder == ProgramFolderHolds::Database)
        inProgramFolder = std::make_unique<TestDatabase>(programDir + QStringLiteral("/OLBRAData.mdb"), TestDatabase::demoSql());
    else if (programFolder == ProgramFolderHolds::TextFile)
        writeFile(programDir + QStringLiteral("/OLBRAData.mdb"), QByteArrayLiteral("OLBRA reference data, exported as text\n"));
    const TestDatabase atDataPath(dataDir + QStringLiteral("/Lab Copy.mdb"), TestDatabase::demoSql());

    switch (setting) {
    case Setting::NoFile:
        break;
    case Setting::NoSection:
        writeFile(settingsFile(), QByteArrayLiteral("[Other]\r\nDataPath=") + QFile::encodeName(dataPath) + "\r\n");
        break;
    case Setting::NoKey:
        writeFile(settingsFile(), QByteArrayLiteral("[ZRVData]\r\nLastPanel=NH\r\n"));
        break;
    case Setting::ToDatabase:
        writeFile(settingsFile(), QByteArrayLiteral("[ZRVData]\r\nDataPath=") + QFile::encodeName(dataPath) + "\r\n");
        break;
    case Setting::ToMissingFile:
        writeFile(settingsFile(), QByteArrayLiteral("[ZRVData]\r\nDataPath=") + QFile::encodeName(dataDir)
                                      + "/Moved.mdb\r\n");
        break;
    }
    QString missingPath = dataDir + QStringLiteral("/Moved.mdb");

    ConnectionLog log;
    m_desktop->connectionFactory = [&log] { return std::make_unique<CountingConnection>(log); };
    if (versionRefused)
        modPatch::setWindowFactory([] { return std::make_unique<RefusingVersionWindow>(); });

    modPatch::Main();

    auto expand = [&](QString text) {
        text.replace(QStringLiteral("{program}"), programDir);
        text.replace(QStringLiteral("{data}"), setting == Setting::ToMissingFile ? missingPath : dataPath);
        return text;
    };
    QStringList expectedFiles;
    for (const QString &file : std::as_const(dataFiles))
        expectedFiles.append(expand(file));
    QCOMPARE(log.dataFiles, expectedFiles);
    QCOMPARE(log.opens, opens);
    QCOMPARE(log.connectedReads, connectedReads);

    QList<StandInPlatform::Box> expectedBoxes;
    if (!errorBox.isEmpty())
        expectedBoxes.append({BoxKind::Failure, QStringLiteral("OLBRADURADIRURI"), expand(errorBox)});
    if (notFoundBox)
        expectedBoxes.append({BoxKind::Notice, QStringLiteral("OLBRA Patch"), notFoundMessage});
    QCOMPARE(m_desktop->boxes.size(), expectedBoxes.size());
    for (qsizetype i = 0; i < expectedBoxes.size(); ++i) {
        QCOMPARE(m_desktop->boxes[i].kind, expectedBoxes[i].kind);
        QCOMPARE(m_desktop->boxes[i].title, expectedBoxes[i].title);
        QCOMPARE(m_desktop->boxes[i].text, expectedBoxes[i].text);
    }
    QCOMPARE(modPatch::gPatchError, std::int16_t(errorBox.isEmpty() ? 0 : -1));
    QCOMPARE(modERR::gErrAnswer, std::int16_t(errorBox.isEmpty() ? 0 : olbra::Answer::OK));
    QCOMPARE(m_desktop->endCount, ended ? 1 : 0);
    QVERIFY(m_desktop->uncaught.isEmpty());

    // The window came up before the search, and stays as the search left it.
    auto &window = dynamic_cast<frmUpdateMe &>(modPatch::window());
    QVERIFY(window.isVisible());
    QCOMPARE(window.Check1(0)->checkState(), ended ? Qt::Unchecked : Qt::Checked);
    QCOMPARE(window.Check1(1)->checkState(), Qt::Unchecked);
    QCOMPARE(window.statusPanelText(1), panel1);
    QCOMPARE(window.statusPanelText(2), panel2);
    QCOMPARE(modPatch::gConn.isNone(), false);
    QCOMPARE(modPatch::gConn->IsConnected(), !ended);
}

void tst_startup::patchTextsAndVersion()
{
    QTemporaryDir programDir;
    QVERIFY(programDir.isValid());
    m_desktop->programFilePath = programDir.filePath(QStringLiteral("OLBRADURADIRURI"));
    const TestDatabase database(programDir.filePath(QStringLiteral("OLBRAData.mdb")), TestDatabase::demoSql());

    modPatch::Main();

    QCOMPARE(modPatch::gPatchName, QStringLiteral("Patch NH0108-NH PRO-Negative N. gonorrhoeae Update"));
    QCOMPARE(modPatch::gPatchName.size(), 50);
    QCOMPARE(modPatch::HistoryKey(), modPatch::gPatchName);
    QCOMPARE(modPatch::gPatchTitle, QStringLiteral("OLBRA Patch NH 0108"));
    QCOMPARE(modPatch::gPatchReason,
             QStringLiteral("The patch will modify percentages for N. gonorrhoeae in the Belvix NH System to better "
                            "support identification of PRO-negative strains. \r\n"));
    QVERIFY(modPatch::gPatchReason.endsWith(QStringLiteral(" \r\n")));

    QCOMPARE(modPatch::VersionText(), QStringLiteral("Ver: 1.0.76 "));
    QCOMPARE(modPatch::VersionText().size(), 12);
    QCOMPARE(modPatch::window().statusPanelText(2), QStringLiteral("Ver: 1.0.76 "));
}

void tst_startup::readDataPath_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QString>("dataPath");

    QTest::newRow("no settings file") << QByteArray() << QString();
    QTest::newRow("empty file") << QByteArray("") << QString();
    QTest::newRow("other section only") << QByteArray("[Other]\nDataPath=/srv/olbra/OLBRAData.mdb\n") << QString();
    QTest::newRow("section without the key") << QByteArray("[ZRVData]\nLastPanel=NH\n") << QString();
    QTest::newRow("the key") << QByteArray("[ZRVData]\nDataPath=/srv/olbra/OLBRAData.mdb\n")
                             << QStringLiteral("/srv/olbra/OLBRAData.mdb");
    QTest::newRow("lines ending CR LF") << QByteArray("[ZRVData]\r\nDataPath=/srv/olbra/OLBRAData.mdb\r\n")
                                        << QStringLiteral("/srv/olbra/OLBRAData.mdb");
    QTest::newRow("backslashes, a comma and blanks kept")
        << QByteArray("[ZRVData]\nDataPath=C:\\OLBRA\\Data, old\\OLBRAData.mdb\n")
        << QStringLiteral("C:\\OLBRA\\Data, old\\OLBRAData.mdb");
    QTest::newRow("key of the next section not taken")
        << QByteArray("[ZRVData]\nLastPanel=NH\n[Other]\nDataPath=/srv/other.mdb\n") << QString();
}

void tst_startup::readDataPath()
{
    QFETCH(QByteArray, settings);
    QFETCH(QString, dataPath);

    if (!settings.isNull())
        writeFile(settingsFile(), settings);
    modPatch::gDataPath = QStringLiteral("left from before");

    modPatch::ReadDataPath();

    QCOMPARE(modPatch::gDataPath, dataPath);
    QCOMPARE(olbra::settingsFilePath(QStringLiteral("OLBRA")), settingsFile());
}

void tst_startup::readDataPathNeverWritesTheSettings()
{
    // No file: none is made.
    modPatch::ReadDataPath();
    QCOMPARE(QDir(m_config->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());

    // A file: left byte for byte as it was, even with an entry that reads oddly.
    const QByteArray content("; kept by OLBRA\r\n[ZRVData]\r\nDataPath=/srv/olbra\r\nOdd line\r\n");
    writeFile(settingsFile(), content);
    QFile::setPermissions(settingsFile(), QFile::ReadOwner | QFile::ReadUser);
    const QDateTime written = QFileInfo(settingsFile()).lastModified();

    modPatch::ReadDataPath();

    QCOMPARE(modPatch::gDataPath, QStringLiteral("/srv/olbra"));
    QFile file(settingsFile());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), content);
    QCOMPARE(QFileInfo(settingsFile()).lastModified(), written);
    QCOMPARE(QDir(m_config->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{QStringLiteral("OLBRA.ini")});
}

QTEST_MAIN(tst_startup)
#include "tst_startup.moc"
