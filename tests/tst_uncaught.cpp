#include "Platform.h"
#include "StandInPlatform.h"
#include "TestDatabase.h"
#include "frmUpdateMe.h"
#include "modPatch.h"

#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <new>
#include <stdexcept>

using olbra::BoxKind;
using olbra::Failure;

namespace {

// The test runs itself with this switch to see the real report end a process.
constexpr char childSwitch[] = "--end-with-uncaught-failure";
constexpr std::int32_t childNumber = -2147217900;
const char *const childDescription = "Syntax error in FROM clause.";

// A desktop on which OLBRA.exe cannot be started and the notice about it cannot be shown either.
class BrokenNoticePlatform : public StandInPlatform {
public:
    void startProgram(const QString &name, int showState) override
    {
        StandInPlatform::startProgram(name, showState);
        throw Failure(olbra::ErrorCode::FileNotFound, QStringLiteral("File not found: OLBRA.exe"));
    }
    std::int16_t messageBox(BoxKind kind, const QString &title, const QString &text) override
    {
        const std::int16_t answer = StandInPlatform::messageBox(kind, title, text);
        if (kind == BoxKind::Notice)
            throw Failure(olbra::ErrorCode::OutOfMemory, QStringLiteral("Out of memory"));
        return answer;
    }
};

void printLine(const QString &line)
{
    QString escaped = line;
    escaped.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    std::printf("%s\n", escaped.toUtf8().constData());
    // The report ends the process without flushing what the test wrote.
    std::fflush(stdout);
}

// Notes the report's box on standard output, then answers it.
void answerReportBox()
{
    QTimer::singleShot(10, qApp, [] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) {
            answerReportBox();
            return;
        }
        printLine(QStringLiteral("title: ") + box->windowTitle());
        printLine(QStringLiteral("text: ") + box->text());
        printLine(QStringLiteral("critical: ") + (box->icon() == QMessageBox::Critical ? QStringLiteral("yes") : QStringLiteral("no")));
        if (QAbstractButton *ok = box->button(QMessageBox::Ok))
            ok->click();
    });
}

int runChild(int argc, char **argv)
{
    const bool windows = qstrcmp(argv[2], "windows") == 0;
    std::unique_ptr<QCoreApplication> application;
    if (windows) {
        application = std::make_unique<QApplication>(argc, argv);
        answerReportBox();
    } else {
        application = std::make_unique<QCoreApplication>(argc, argv);
    }
    olbra::runGuarded([] { throw Failure(childNumber, QString::fromUtf8(childDescription)); });
    printLine(QStringLiteral("still running"));
    return 0;
}

} // namespace

class tst_uncaught : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void guardedRoutineReportsWhatEscapes_data();
    void guardedRoutineReportsWhatEscapes();
    void failureEscapingExitHandler();
    void realReportEndsTheProgram_data();
    void realReportEndsTheProgram();

private:
    QTemporaryDir m_config;
};

void tst_uncaught::initTestCase()
{
    QVERIFY(m_config.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    modPatch::setWindowFactory([] { return std::make_unique<frmUpdateMe>(); });
}

void tst_uncaught::init() { modPatch::ResetPatchState(); }

void tst_uncaught::cleanup() { modPatch::ResetPatchState(); }

void tst_uncaught::guardedRoutineReportsWhatEscapes_data()
{
    QTest::addColumn<QString>("thrown");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("description");

    QTest::newRow("the program's failure") << "failure" << -2147217900 << "Syntax error in FROM clause.";
    QTest::newRow("memory running out") << "bad_alloc" << 7 << "Out of memory";
    QTest::newRow("a failure from outside the program") << "runtime_error" << 51 << "disk went away";
}

void tst_uncaught::guardedRoutineReportsWhatEscapes()
{
    QFETCH(QString, thrown);
    QFETCH(int, number);
    QFETCH(QString, description);

    StandInPlatform desktop;
    bool after = false;
    olbra::runGuarded([&] {
        if (thrown == QLatin1String("failure"))
            throw Failure(-2147217900, QStringLiteral("Syntax error in FROM clause."));
        if (thrown == QLatin1String("bad_alloc"))
            throw std::bad_alloc();
        throw std::runtime_error("disk went away");
        after = true;
    });

    QVERIFY(!after);
    QCOMPARE(desktop.uncaught.size(), 1);
    QCOMPARE(desktop.uncaught[0].number(), number);
    QCOMPARE(desktop.uncaught[0].description(), description);
    // The report is the desktop's own: no error box of the program, no flag.
    QVERIFY(desktop.boxes.isEmpty());
    QCOMPARE(modPatch::gPatchError, std::int16_t(0));
}

void tst_uncaught::failureEscapingExitHandler()
{
    QTemporaryDir programDir;
    QVERIFY(programDir.isValid());
    BrokenNoticePlatform desktop;
    desktop.programFilePath = programDir.filePath(QStringLiteral("OLBRADURADIRURI"));
    const TestDatabase database(programDir.filePath(QStringLiteral("OLBRAData.mdb")), TestDatabase::demoSql());
    modPatch::Main();
    auto &window = dynamic_cast<frmUpdateMe &>(modPatch::window());
    window.Command1->setText(QStringLiteral("&Exit"));
    desktop.questionAnswers = {olbra::Answer::Yes};

    // Starting OLBRA fails, and so does the notice that tells of it: nothing catches the second.
    window.Command1->click();

    QCOMPARE(desktop.starts.size(), 1);
    QCOMPARE(desktop.boxes.size(), 2);
    QCOMPARE(desktop.boxes[0].kind, BoxKind::Question);
    QCOMPARE(desktop.boxes[1].kind, BoxKind::Notice);
    QCOMPARE(desktop.boxes[1].text, QStringLiteral("Could not find OLBRA... please select from your Program Files menu"));
    QCOMPARE(desktop.uncaught.size(), 1);
    QCOMPARE(desktop.uncaught[0].number(), 7);
    QCOMPARE(desktop.uncaught[0].description(), QStringLiteral("Out of memory"));
    QCOMPARE(modPatch::gStartAnswer, olbra::Answer::Yes);
}

void tst_uncaught::realReportEndsTheProgram_data()
{
    QTest::addColumn<QString>("mode");

    QTest::newRow("with its box, answered") << "windows";
    QTest::newRow("without a window system") << "console";
}

void tst_uncaught::realReportEndsTheProgram()
{
    QFETCH(QString, mode);

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_config.path());
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(childSwitch), mode});
    QVERIFY2(child.waitForStarted(), qPrintable(child.errorString()));
    // Only a guard against a report that never ends: a box nobody answers.
    if (!child.waitForFinished(120000)) {
        child.kill();
        child.waitForFinished();
        QFAIL("the report did not end the program");
    }

    const QString out = QString::fromUtf8(child.readAllStandardOutput());
    const QString err = QString::fromUtf8(child.readAllStandardError());
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), olbra::ExitCode::UncaughtFailure);
    QCOMPARE(child.exitCode(), 3);
    QVERIFY2(err.contains(QStringLiteral("Run-time error '-2147217900':")), qPrintable(err));
    QVERIFY2(err.contains(QString::fromUtf8(childDescription)), qPrintable(err));
    QVERIFY2(!out.contains(QStringLiteral("still running")), qPrintable(out));
    if (mode == QLatin1String("windows")) {
        QVERIFY2(out.contains(QStringLiteral("title: OLBRA Patch\n")), qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("critical: yes\n")), qPrintable(out));
        const qsizetype text = out.indexOf(QStringLiteral("text: "));
        QVERIFY2(text >= 0, qPrintable(out));
        const QString shown = out.mid(text, out.indexOf(QLatin1Char('\n'), text) - text);
        QVERIFY2(shown.contains(QStringLiteral("Run-time error '-2147217900':")), qPrintable(shown));
        QVERIFY2(shown.contains(QString::fromUtf8(childDescription)), qPrintable(shown));
    } else {
        QVERIFY2(!out.contains(QStringLiteral("title: ")), qPrintable(out));
    }
}

int main(int argc, char *argv[])
{
    if (argc == 3 && qstrcmp(argv[1], childSwitch) == 0)
        return runChild(argc, argv);
    QApplication application(argc, argv);
    tst_uncaught test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_uncaught.moc"
