// Apply and Exit, driven through the real window offscreen: the outcome report in every case,
// the history rule, the start question and the hand-over to the main program.
#include "StandInPlatform.h"
#include "TestDatabase.h"
#include "frmUpdateMe.h"
#include "modPatch.h"

#include <QCheckBox>
#include <QDir>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using olbra::BoxKind;
using olbra::Failure;

namespace {

const QString Key = QStringLiteral("Patch NH0108-NH PRO-Negative N. gonorrhoeae Update");
const QString NotFound = QStringLiteral("Could not find OLBRA... please select from your Program Files menu");

/// A connection whose closing fails, as a broken component's would.
class FailingCloseConnection : public olbra::DataConnection {
public:
    olbra::Variant CloseConnection() override
    {
        olbra::DataConnection::CloseConnection();
        throw Failure(-2147467259, QStringLiteral("Unspecified error"));
    }
};

} // namespace

class tst_actions : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<StandInPlatform> m_desktop;
    std::unique_ptr<TestDatabase> m_database;
    frmUpdateMe *m_window = nullptr;
    QList<int> m_progress;

    QString programFolder() const { return m_dir.filePath(QStringLiteral("program")); }

    // Starts the program as a user would, on a product database in the program folder made from
    // the demo data and the given changes.
    void startUp(const QString &changes = {})
    {
        m_database = std::make_unique<TestDatabase>(programFolder() + QStringLiteral("/OLBRAData.mdb"),
                                                    TestDatabase::demoSql() + changes);
        modPatch::Main();
        QVERIFY(modPatch::windowIsLoaded());
        QCOMPARE(m_window->StatusBar->panel(1)->text(), QStringLiteral("Click Apply to apply the patch."));
        m_progress.clear();
        QObject::connect(m_window->ProgressBar1, &QProgressBar::valueChanged, m_window, [this](int value) { m_progress << value; });
    }

    void apply() { QTest::mouseClick(m_window->cmdOK, Qt::LeftButton); }

    int historyRows() const { return m_database->scalar(QStringLiteral("SELECT count(*) FROM updates WHERE Reason = '%1'").arg(Key)).toInt(); }

    void verifyFinished(const QString &status, const QString &sentence, bool ticked)
    {
        QCOMPARE(m_window->StatusBar->panel(1)->text(), status);
        QCOMPARE(m_window->lblreason->caption(), modPatch::gPatchReason + QStringLiteral("\r\n") + sentence);
        QCOMPARE(m_window->Check1(1)->isChecked(), ticked);
        QVERIFY(m_window->Check1(0)->isChecked());
        QVERIFY(!m_window->cmdOK->isEnabled());
        QCOMPARE(m_window->Command1->text(), QStringLiteral("&Exit"));
        QCOMPARE(m_window->Command1->toolTip(), QStringLiteral("Exit Patch"));
        QVERIFY(modPatch::gConn.isNone());
        QCOMPARE(m_progress.last(), 100);
    }

    QStringList boxTexts() const
    {
        QStringList texts;
        for (const auto &box : m_desktop->boxes)
            texts << box.text;
        return texts;
    }

    // An executable stand-in for the main program that leaves a mark when it runs.
    QString plantProgram(const QString &folder)
    {
        QDir().mkpath(folder);
        const QString path = folder + QStringLiteral("/OLBRA.exe");
        QFile script(path);
        if (!script.open(QIODevice::WriteOnly))
            return {};
        script.write(QStringLiteral("#!/bin/sh\necho \"$OLBRA_SHOW_STATE\" > '%1'\n").arg(markFile()).toUtf8());
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }

    QString markFile() const { return m_dir.filePath(QStringLiteral("started")); }

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        QDir().mkpath(programFolder());
        qputenv("XDG_CONFIG_HOME", m_dir.filePath(QStringLiteral("config")).toUtf8());
        modPatch::ResetPatchState();
        m_desktop = std::make_unique<StandInPlatform>();
        m_desktop->programFilePath = programFolder() + QStringLiteral("/OLBRADURADIRURI");
        modPatch::setWindowFactory([this] {
            auto window = std::make_unique<frmUpdateMe>();
            m_window = window.get();
            return window;
        });
    }

    void cleanup()
    {
        modPatch::ResetPatchState();
        m_window = nullptr;
        m_desktop.reset();
        m_database.reset();
        QDir(m_dir.path()).removeRecursively();
        QDir().mkpath(m_dir.path());
    }

    void everythingSucceeds()
    {
        startUp();
        apply();
        QCOMPARE(m_progress, (QList<int>{10, 50, 80, 90, 100}));
        verifyFinished(QStringLiteral("Done!"), QStringLiteral("Patch successfully applied."), true);
        QVERIFY(m_desktop->boxes.isEmpty());
        QCOMPARE(m_database->scalar("SELECT PRO || ' ' || RES || ' ' || MLF FROM NHBASE WHERE ID = 1").toString(), QStringLiteral("98 4 0.9408"));
        QCOMPARE(historyRows(), 1);
    }

    void organismRecordCannotBePatched()
    {
        startUp(QStringLiteral("DELETE FROM NHBASE WHERE ID = 1;"));
        apply();
        QCOMPARE(m_progress, (QList<int>{10, 80, 90, 100}));
        verifyFinished(QStringLiteral("Error in Olbra Patch"), QStringLiteral("Patch was not applied."), false);
        QCOMPARE(boxTexts(), QStringList{QStringLiteral("Error : 3021 Either BOF or EOF is True: there is no current row\r\n"
                                                        "Patch Failed to update OLBRA Belvix NH Database")});
        // A failed patch is not recorded as applied.
        QCOMPARE(historyRows(), 0);
    }

    void onlyTheHistoryFails()
    {
        startUp(QStringLiteral("DROP TABLE updates;"));
        apply();
        QCOMPARE(m_progress, (QList<int>{10, 50, 80, 90, 100}));
        verifyFinished(QStringLiteral("Error in Olbra Patch"), QStringLiteral("Patch was not applied."), false);
        QCOMPARE(boxTexts(), QStringList{QStringLiteral("Error : -2147221503 no such table: updates (while running the query)\r\nWrite to Update")});
        QCOMPARE(m_database->scalar("SELECT PRO FROM NHBASE WHERE ID = 1").toInt(), 98);
        QCOMPARE(m_database->scalar("SELECT DBVersion FROM Panels WHERE panelcode = 'NH'").toString(), QStringLiteral("2.08"));
    }

    void closingTheConnectionFails()
    {
        m_desktop->connectionFactory = [] { return std::make_unique<FailingCloseConnection>(); };
        startUp();
        apply();
        QCOMPARE(boxTexts(), QStringList{QStringLiteral("Error : -2147467259 Unspecified error\r\nClose Connection to DataFile")});
        QVERIFY(m_desktop->uncaught.isEmpty());
        verifyFinished(QStringLiteral("Error in Olbra Patch"), QStringLiteral("Patch was not applied."), false);
        QCOMPARE(historyRows(), 1);
    }

    void theConnectionIsGoneBeforeApply()
    {
        startUp();
        modPatch::gConn.reset();
        apply();
        QCOMPARE(boxTexts(), (QStringList{QStringLiteral("Error : 91 Object variable not set\r\nPatch Failed to update OLBRA Belvix NH Database"),
                                          QStringLiteral("Error : 91 Object variable not set\r\nClose Connection to DataFile")}));
        QVERIFY(m_desktop->uncaught.isEmpty());
        verifyFinished(QStringLiteral("Error in Olbra Patch"), QStringLiteral("Patch was not applied."), false);
    }

    void anErrorAtStartUpMakesTheOutcomeAFailure()
    {
        startUp();
        modERR::ReportError(Failure(5, QStringLiteral("Invalid procedure call")), QStringLiteral("Main Start Up"));
        m_desktop->boxes.clear();
        apply();
        QVERIFY(m_desktop->boxes.isEmpty());
        QCOMPARE(m_progress, (QList<int>{10, 50, 80, 90, 100}));
        verifyFinished(QStringLiteral("Error in Olbra Patch"), QStringLiteral("Patch was not applied."), false);
        // Only a failure of the patch itself keeps the history row out.
        QCOMPARE(historyRows(), 1);
    }

    void cancelBeforeApply_data()
    {
        QTest::addColumn<QString>("caption");
        QTest::newRow("as designed") << "&Cancel";
        QTest::newRow("exit in other case") << "&exit";
        QTest::newRow("exit without its access key") << "Exit";
    }

    void cancelBeforeApply()
    {
        QFETCH(QString, caption);
        startUp();
        m_window->Command1->setText(caption);
        QTest::mouseClick(m_window->Command1, Qt::LeftButton);
        QVERIFY(!modPatch::windowIsLoaded());
        QVERIFY(m_desktop->boxes.isEmpty());
        QVERIFY(m_desktop->starts.isEmpty());
        QCOMPARE(historyRows(), 0);
    }

    void exitAfterApply_data()
    {
        QTest::addColumn<std::int16_t>("answer");
        QTest::addColumn<bool>("starts");
        QTest::newRow("Yes starts the main program") << olbra::Answer::Yes << true;
        QTest::newRow("No starts nothing") << olbra::Answer::No << false;
    }

    void exitAfterApply()
    {
        QFETCH(std::int16_t, answer);
        QFETCH(bool, starts);
        startUp();
        apply();
        m_desktop->questionAnswers = {answer};
        QTest::mouseClick(m_window->Command1, Qt::LeftButton);
        QCOMPARE(m_desktop->boxes.size(), 1);
        QCOMPARE(m_desktop->boxes[0].kind, BoxKind::Question);
        QCOMPARE(m_desktop->boxes[0].title, QStringLiteral("OLBRA Update"));
        QCOMPARE(m_desktop->boxes[0].text, QStringLiteral("Would you like to start OLBRA now?"));
        QCOMPARE(modPatch::gStartAnswer, answer);
        QCOMPARE(m_desktop->starts.size(), starts ? 1 : 0);
        if (starts) {
            QCOMPARE(m_desktop->starts[0].name, QStringLiteral("OLBRA.exe"));
            QCOMPARE(m_desktop->starts[0].showState, 2);
        }
        QVERIFY(!modPatch::windowIsLoaded());
    }

    void escapeAfterApplyAsksTheQuestion()
    {
        startUp(QStringLiteral("DELETE FROM NHBASE;"));
        apply();
        m_desktop->boxes.clear();
        m_desktop->questionAnswers = {olbra::Answer::No};
        QTest::keyClick(m_window, Qt::Key_Escape);
        QCOMPARE(boxTexts(), QStringList{QStringLiteral("Would you like to start OLBRA now?")});
        QVERIFY(!modPatch::windowIsLoaded());
    }

    void theMainProgramIsStartedFromTheProgramFolder()
    {
        m_desktop->startForReal = true;
        plantProgram(programFolder());
        startUp();
        apply();
        QTest::mouseClick(m_window->Command1, Qt::LeftButton);
        // The started program runs apart from the patch; its mark says it came with show state 2.
        auto mark = [this] {
            QFile file(markFile());
            return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
        };
        QTRY_COMPARE_WITH_TIMEOUT(mark(), QByteArray("2"), 10000);
        QCOMPARE(boxTexts(), QStringList{QStringLiteral("Would you like to start OLBRA now?")});
        QVERIFY(!modPatch::windowIsLoaded());
    }

    void theMainProgramIsNotFound_data()
    {
        QTest::addColumn<QString>("plantedIn");
        QTest::addColumn<QString>("searchPath");
        QTest::newRow("nowhere") << QString() << QString();
        QTest::newRow("only in the working folder") << "work" << ".:bin::";
        QTest::newRow("not executable in the program folder") << "program-plain" << QString();
    }

    void theMainProgramIsNotFound()
    {
        QFETCH(QString, plantedIn);
        QFETCH(QString, searchPath);
        m_desktop->startForReal = true;
        const QString work = m_dir.filePath(QStringLiteral("work"));
        QDir().mkpath(work);
        if (plantedIn == QLatin1String("work"))
            plantProgram(work);
        if (plantedIn == QLatin1String("program-plain"))
            QFile::setPermissions(plantProgram(programFolder()), QFile::ReadOwner | QFile::WriteOwner);
        const QString savedPath = qEnvironmentVariable("PATH");
        const QString savedFolder = QDir::currentPath();
        qputenv("PATH", (searchPath + (searchPath.isEmpty() ? "" : ":") + m_dir.filePath(QStringLiteral("empty"))).toUtf8());
        QDir::setCurrent(work);

        startUp();
        apply();
        QTest::mouseClick(m_window->Command1, Qt::LeftButton);

        QDir::setCurrent(savedFolder);
        qputenv("PATH", savedPath.toUtf8());
        QCOMPARE(m_desktop->boxes.size(), 2);
        QCOMPARE(m_desktop->boxes[1].kind, BoxKind::Notice);
        QCOMPARE(m_desktop->boxes[1].title, QStringLiteral("OLBRA Patch"));
        QCOMPARE(m_desktop->boxes[1].text, NotFound);
        QCOMPARE(modPatch::gStartAnswer, olbra::Answer::Yes);
        QVERIFY(!modPatch::windowIsLoaded());
        QVERIFY(!QFile::exists(markFile()));
    }
};

QTEST_MAIN(tst_actions)
#include "tst_actions.moc"
