#include "Platform.h"
#include "StandInPlatform.h"
#include "TestDatabase.h"
#include "frmUpdateMe.h"
#include "modERR.h"
#include "modPatch.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <limits>

using olbra::BoxKind;
using olbra::Failure;

namespace {

// Notes the error flag as it stands while the box is up, before the user has answered.
class FlagWatchingPlatform : public StandInPlatform {
public:
    std::int16_t messageBox(BoxKind kind, const QString &title, const QString &text) override
    {
        flagsWhileShown.append(modPatch::gPatchError);
        return StandInPlatform::messageBox(kind, title, text);
    }
    QList<std::int16_t> flagsWhileShown;
};

// What a real box looked like when it came up, and how it was answered.
struct SeenBox {
    bool seen = false;
    bool modal = false;
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QList<QMessageBox::StandardButton> buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

// Waits, from inside the box's own event loop, for the box to come up, notes it and presses the
// button; re-arms itself until then.
void answerWhenShown(SeenBox &seen, QMessageBox::StandardButton press)
{
    QTimer::singleShot(10, qApp, [&seen, press] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) {
            answerWhenShown(seen, press);
            return;
        }
        seen.seen = true;
        seen.modal = box->isModal() && box->windowModality() == Qt::ApplicationModal;
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.icon = box->icon();
        for (QAbstractButton *button : box->buttons())
            seen.buttons.append(box->standardButton(button));
        if (box->defaultButton())
            seen.defaultButton = box->standardButton(box->defaultButton());
        if (QAbstractButton *button = box->button(press))
            button->click();
        else
            box->reject();
    });
}

} // namespace

Q_DECLARE_METATYPE(olbra::BoxKind)

class tst_errors : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void reportShowsNumberDescriptionAndContext_data();
    void reportShowsNumberDescriptionAndContext();
    void flagStaysRaisedAfterLaterSuccess();
    void realBoxesComeUpModalAndAnswer_data();
    void realBoxesComeUpModalAndAnswer();

private:
    QTemporaryDir m_config;
};

void tst_errors::initTestCase()
{
    QVERIFY(m_config.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
}

void tst_errors::init() { modPatch::ResetPatchState(); }

void tst_errors::cleanup() { modPatch::ResetPatchState(); }

void tst_errors::reportShowsNumberDescriptionAndContext_data()
{
    QTest::addColumn<QString>("programFile");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("context");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("message");

    QTest::newRow("negative number of a database call")
        << "/opt/olbra/OLBRADURADIRURI" << -2147217900 << "Syntax error in FROM clause."
        << "Patch Failed to update OLBRA Belvix NH Database" << "OLBRADURADIRURI"
        << "Error : -2147217900 Syntax error in FROM clause.\r\nPatch Failed to update OLBRA Belvix NH Database";
    QTest::newRow("lowest 32-bit number")
        << "/opt/olbra/OLBRADURADIRURI" << std::numeric_limits<std::int32_t>::min() << "Unspecified error"
        << "Write to Update" << "OLBRADURADIRURI" << "Error : -2147483648 Unspecified error\r\nWrite to Update";
    QTest::newRow("empty description")
        << "/opt/olbra/OLBRADURADIRURI" << 5 << QString() << "Main Start Up" << "OLBRADURADIRURI"
        << "Error : 5 \r\nMain Start Up";
    QTest::newRow("context kept as given")
        << "/opt/olbra/OLBRADURADIRURI" << 3021 << "Either BOF or EOF is True, or the current record has been deleted."
        << "Initization Connection to DataFile" << "OLBRADURADIRURI"
        << "Error : 3021 Either BOF or EOF is True, or the current record has been deleted.\r\nInitization Connection to DataFile";
    QTest::newRow("renamed program file: title without folder and extension")
        << "/opt/x/Renamed.bin" << 91 << "Object variable not set" << "Main Start Up" << "Renamed"
        << "Error : 91 Object variable not set\r\nMain Start Up";
    QTest::newRow("renamed with dots: only the last extension goes")
        << "/home/lab/OLBRA.Patch.0108.exe" << 91 << "Object variable not set" << "Main Start Up" << "OLBRA.Patch.0108"
        << "Error : 91 Object variable not set\r\nMain Start Up";
}

void tst_errors::reportShowsNumberDescriptionAndContext()
{
    QFETCH(QString, programFile);
    QFETCH(int, number);
    QFETCH(QString, description);
    QFETCH(QString, context);
    QFETCH(QString, title);
    QFETCH(QString, message);

    FlagWatchingPlatform desktop;
    desktop.programFilePath = programFile;

    modERR::ReportError(Failure(number, description), context);

    QCOMPARE(desktop.boxes.size(), 1);
    QCOMPARE(desktop.boxes[0].kind, BoxKind::Failure);
    QCOMPARE(desktop.boxes[0].title, title);
    QCOMPARE(desktop.boxes[0].text, message);
    // Raised before the box came up, so a report that cannot be shown still counts.
    QCOMPARE(desktop.flagsWhileShown, QList<std::int16_t>{-1});
    QCOMPARE(modPatch::gPatchError, std::int16_t(-1));
    QCOMPARE(modERR::gErrAnswer, olbra::Answer::OK);
    // The reporter neither ends the program nor passes the failure on.
    QCOMPARE(desktop.endCount, 0);
    QVERIFY(desktop.uncaught.isEmpty());
}

void tst_errors::flagStaysRaisedAfterLaterSuccess()
{
    QTemporaryDir programDir;
    QVERIFY(programDir.isValid());
    StandInPlatform desktop;
    desktop.programFilePath = programDir.filePath(QStringLiteral("OLBRADURADIRURI"));
    const TestDatabase database(programDir.filePath(QStringLiteral("OLBRAData.mdb")), TestDatabase::demoSql());
    modPatch::setWindowFactory([] { return std::make_unique<frmUpdateMe>(); });

    modERR::ReportError(Failure(-2147467259, QStringLiteral("Unspecified error")), QStringLiteral("Write to Update"));
    modERR::ReportError(Failure(13, QStringLiteral("Type mismatch")), QStringLiteral("Main Start Up"));

    // Two failures, two boxes, in order.
    QCOMPARE(desktop.boxes.size(), 2);
    QCOMPARE(desktop.boxes[0].text, QStringLiteral("Error : -2147467259 Unspecified error\r\nWrite to Update"));
    QCOMPARE(desktop.boxes[1].text, QStringLiteral("Error : 13 Type mismatch\r\nMain Start Up"));

    // A later step that succeeds leaves the flag as it was.
    modPatch::gConn = std::make_unique<olbra::DataConnection>();
    modPatch::gConn->setDataFile(database.path());
    modPatch::gConn->OpenConnection();
    QVERIFY(modPatch::gConn->IsConnected());
    modPatch::WriteUpdateHistory();
    QCOMPARE(desktop.boxes.size(), 2);
    QCOMPARE(database.scalar(QStringLiteral("SELECT count(*) FROM updates")).toLongLong(), 3LL);
    QCOMPARE(modPatch::gPatchError, std::int16_t(-1));
}

void tst_errors::realBoxesComeUpModalAndAnswer_data()
{
    QTest::addColumn<BoxKind>("kind");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QMessageBox::StandardButton>("press");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("shownTitle");
    QTest::addColumn<QMessageBox::Icon>("icon");
    QTest::addColumn<QList<QMessageBox::StandardButton>>("buttons");
    QTest::addColumn<QMessageBox::StandardButton>("defaultButton");

    const QList<QMessageBox::StandardButton> ok{QMessageBox::Ok};
    const QList<QMessageBox::StandardButton> yesNo{QMessageBox::Yes, QMessageBox::No};

    QTest::newRow("failure report") << BoxKind::Failure << "OLBRADURADIRURI" << QMessageBox::Ok << 1 << "OLBRADURADIRURI"
                                    << QMessageBox::Critical << ok << QMessageBox::NoButton;
    QTest::newRow("notice without a title of its own") << BoxKind::Notice << QString() << QMessageBox::Ok << 1
                                                        << "OLBRA Patch" << QMessageBox::NoIcon << ok << QMessageBox::NoButton;
    QTest::newRow("question answered Yes") << BoxKind::Question << "OLBRA Update" << QMessageBox::Yes << 6 << "OLBRA Update"
                                           << QMessageBox::NoIcon << yesNo << QMessageBox::Yes;
    QTest::newRow("question answered No") << BoxKind::Question << "OLBRA Update" << QMessageBox::No << 7 << "OLBRA Update"
                                          << QMessageBox::NoIcon << yesNo << QMessageBox::Yes;
}

void tst_errors::realBoxesComeUpModalAndAnswer()
{
    QFETCH(BoxKind, kind);
    QFETCH(QString, title);
    QFETCH(QMessageBox::StandardButton, press);
    QFETCH(int, answer);
    QFETCH(QString, shownTitle);
    QFETCH(QMessageBox::Icon, icon);
    QFETCH(QList<QMessageBox::StandardButton>, buttons);
    QFETCH(QMessageBox::StandardButton, defaultButton);

    // The desktop itself, no stand-in.
    olbra::setPlatform(nullptr);
    const QString text = QStringLiteral("Error : -2147217900 Syntax error\r\nMain Start Up");
    SeenBox seen;
    answerWhenShown(seen, press);

    const std::int16_t answered = olbra::MsgBox(kind, text, title);

    QVERIFY(seen.seen);
    QCOMPARE(answered, std::int16_t(answer));
    QVERIFY(seen.modal);
    QCOMPARE(seen.title, shownTitle);
    QCOMPARE(seen.text, text);
    QCOMPARE(seen.icon, icon);
    std::sort(seen.buttons.begin(), seen.buttons.end());
    QCOMPARE(seen.buttons, buttons);
    // A box with one button needs no default of its own.
    if (defaultButton != QMessageBox::NoButton)
        QCOMPARE(seen.defaultButton, defaultButton);
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
}

QTEST_MAIN(tst_errors)
#include "tst_errors.moc"
