#include "Platform.h"
#include "StandInPlatform.h"
#include "TestDatabase.h"
#include "frmUpdateMe.h"
#include "modPatch.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDate>
#include <QFontInfo>
#include <QGroupBox>
#include <QImage>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <functional>
#include <memory>

using olbra::BoxKind;
using olbra::Failure;

namespace {

// The design's twips to device-independent pixels, worked out here rather than through the
// window's own conversion; every designed number divides evenly.
QRect fromTwips(int left, int top, int width, int height)
{
    for (int value : {left, top, width, height})
        if (value % 15 != 0)
            qFatal("design value %d is not a whole number of pixels", value);
    return QRect(left / 15, top / 15, width / 15, height / 15);
}

QString today() { return QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat); }

// Runs the event loop as the program does once start-up has returned, does the action from inside
// it, and tells whether the loop then ended by itself, as the program ends when its window unloads.
// The guard only keeps a broken build from hanging the run.
bool programEndsAfter(const std::function<void()> &action)
{
    QTimer::singleShot(0, qApp, action);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, qApp, [] { QCoreApplication::exit(99); });
    guard.start(60000);
    return QApplication::exec() == 0;
}

} // namespace

class tst_window : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void controlsSitWhereDesigned_data();
    void controlsSitWhereDesigned();
    void captionsAndTooltips_data();
    void captionsAndTooltips();
    void fontsOfTheLabels();
    void coloursOfTitleAndLine();
    void fixedNonModalDialogFrame();
    void loadFillsCaptionAndLabels();
    void checkBoxesStartUnticked();
    void iconIsTheTestPanel();
    void focusStartsOnApplyAndFollowsTabOrder();
    void keysPressTheirButtons_data();
    void keysPressTheirButtons();
    void escBeforeApplyUnloadsTheWindow();
    void escAfterApplyAsksToStartOlbra_data();
    void escAfterApplyAsksToStartOlbra();
    void closeBoxUnloadsWithoutHandler_data();
    void closeBoxUnloadsWithoutHandler();
    void showStatusReplacesOnlyPanelOne();
    void datePanelTurnsOverAtMidnight();
    void statusPanelWidths_data();
    void statusPanelWidths();
    void setProgressMovesTheBar();
    void setProgressRefusesOutOfRange_data();
    void setProgressRefusesOutOfRange();

private:
    frmUpdateMe &form();
    /// Runs start-up with the demo database beside the program file: the window as the user sees it.
    frmUpdateMe &startUp();
    /// The fresh window as its load leaves it, before start-up touches anything.
    frmUpdateMe &loadedWindow();
    QWidget *control(const QString &name, int index = -1);
    bool waitActive(frmUpdateMe &window);

    QTemporaryDir m_config;
    std::unique_ptr<QTemporaryDir> m_programFolder;
    std::unique_ptr<StandInPlatform> m_desktop;
    std::unique_ptr<TestDatabase> m_database;
};

void tst_window::initTestCase()
{
    QVERIFY(m_config.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    modPatch::setWindowFactory([] { return std::make_unique<frmUpdateMe>(); });
}

void tst_window::init()
{
    modPatch::ResetPatchState();
    m_programFolder = std::make_unique<QTemporaryDir>();
    QVERIFY(m_programFolder->isValid());
    m_desktop = std::make_unique<StandInPlatform>();
    m_desktop->programFilePath = m_programFolder->filePath(QStringLiteral("OLBRADURADIRURI"));
}

void tst_window::cleanup()
{
    modPatch::ResetPatchState();
    m_desktop.reset();
    m_database.reset();
    m_programFolder.reset();
}

frmUpdateMe &tst_window::form() { return dynamic_cast<frmUpdateMe &>(modPatch::window()); }

frmUpdateMe &tst_window::startUp()
{
    m_database = std::make_unique<TestDatabase>(m_programFolder->filePath(QStringLiteral("OLBRAData.mdb")),
                                                TestDatabase::demoSql());
    modPatch::Main();
    if (!m_desktop->boxes.isEmpty())
        qWarning("start-up showed a box: %s", qPrintable(m_desktop->boxes.first().text));
    return form();
}

frmUpdateMe &tst_window::loadedWindow()
{
    form().Show();
    return form();
}

QWidget *tst_window::control(const QString &name, int index)
{
    if (name == QLatin1String("frmUpdateMe"))
        return &form();
    const QList<QWidget *> found = form().findChildren<QWidget *>(name);
    for (QWidget *widget : found)
        if (index < 0 || widget->property("Index").toInt() == index)
            return widget;
    return nullptr;
}

bool tst_window::waitActive(frmUpdateMe &window)
{
    window.activateWindow();
    return QTest::qWaitForWindowActive(&window);
}

void tst_window::controlsSitWhereDesigned_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("index");
    QTest::addColumn<QByteArray>("kind");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QRect>("geometry");

    const QString window = QStringLiteral("frmUpdateMe");
    QTest::newRow("client area") << window << -1 << QByteArray("QDialog") << QString() << fromTwips(0, 0, 6150, 3465);
    QTest::newRow("ProgressBar1") << "ProgressBar1" << -1 << QByteArray("QProgressBar") << window << fromTwips(60, 2880, 6045, 165);
    QTest::newRow("cmdOK") << "cmdOK" << -1 << QByteArray("QPushButton") << window << fromTwips(4920, 600, 1095, 405);
    QTest::newRow("Frame1") << "Frame1" << -1 << QByteArray("QGroupBox") << window << fromTwips(120, 600, 4275, 1035);
    QTest::newRow("Check1(1) in the frame") << "Check1" << 1 << QByteArray("QCheckBox") << "Frame1" << fromTwips(240, 660, 1935, 225);
    QTest::newRow("Check1(0) in the frame") << "Check1" << 0 << QByteArray("QCheckBox") << "Frame1" << fromTwips(240, 360, 1935, 225);
    QTest::newRow("Command1") << "Command1" << -1 << QByteArray("QPushButton") << window << fromTwips(4920, 1080, 1095, 405);
    QTest::newRow("StatusBar on the bottom edge") << "StatusBar" << -1 << QByteArray("QWidget") << window << fromTwips(0, 3120, 6150, 345);
    // A line from (120, 1740) to (6180, 1740): one pixel high.
    QTest::newRow("Line1") << "Line1" << -1 << QByteArray("QFrame") << window << QRect(120 / 15, 1740 / 15, (6180 - 120) / 15, 1);
    QTest::newRow("lblreason") << "lblreason" << -1 << QByteArray("QLabel") << window << fromTwips(120, 1830, 5925, 975);
    QTest::newRow("lblTitle") << "lblTitle" << -1 << QByteArray("QLabel") << window << fromTwips(0, 30, 6135, 465);
}

void tst_window::controlsSitWhereDesigned()
{
    QFETCH(QString, name);
    QFETCH(int, index);
    QFETCH(QByteArray, kind);
    QFETCH(QString, container);
    QFETCH(QRect, geometry);

    startUp();
    QWidget *widget = control(name, index);
    QVERIFY2(widget, qPrintable(name));
    QVERIFY2(widget->inherits(kind.constData()), widget->metaObject()->className());
    if (container.isEmpty()) {
        QCOMPARE(widget->size(), geometry.size());
    } else {
        QCOMPARE(widget->parentWidget(), control(container));
        QCOMPARE(widget->geometry(), geometry);
    }
}

void tst_window::captionsAndTooltips_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("toolTip");

    QTest::newRow("cmdOK") << "cmdOK" << -1 << "&Apply" << "Click to apply the patch";
    QTest::newRow("Command1") << "Command1" << -1 << "&Cancel" << "Click to cancel and abort the patch";
    QTest::newRow("Frame1") << "Frame1" << -1 << "Progress.. " << QString();
    QTest::newRow("Check1(0)") << "Check1" << 0 << "Connected to OLBRA" << QString();
    QTest::newRow("Check1(1)") << "Check1" << 1 << "Applied the Patch" << QString();
}

void tst_window::captionsAndTooltips()
{
    QFETCH(QString, name);
    QFETCH(int, index);
    QFETCH(QString, caption);
    QFETCH(QString, toolTip);

    loadedWindow();
    QWidget *widget = control(name, index);
    QVERIFY(widget);
    if (auto *frame = qobject_cast<QGroupBox *>(widget))
        QCOMPARE(frame->title(), caption);
    else
        QCOMPARE(qobject_cast<QAbstractButton *>(widget)->text(), caption);
    QCOMPARE(widget->toolTip(), toolTip);
}

void tst_window::fontsOfTheLabels()
{
    frmUpdateMe &window = startUp();
    const QFont reason = window.lblreason->font();
    QCOMPARE(reason.family(), QStringLiteral("Arial"));
    QCOMPARE(reason.pointSizeF(), 8.25);
    QVERIFY(!reason.bold());
    QVERIFY(!reason.italic());

    const QFont title = window.lblTitle->font();
    QCOMPARE(title.family(), QStringLiteral("Arial"));
    QCOMPARE(title.pointSizeF(), 12.0);
    QVERIFY(title.bold());
    QVERIFY(title.italic());

    // Arial itself or its metric twin: the labels' texts wrap as designed only in one of them.
    const QStringList arialOrTwin{QStringLiteral("Arial"), QStringLiteral("Liberation Sans")};
    QVERIFY2(arialOrTwin.contains(QFontInfo(reason).family()), qPrintable(QFontInfo(reason).family()));
    QVERIFY2(arialOrTwin.contains(QFontInfo(title).family()), qPrintable(QFontInfo(title).family()));
}

void tst_window::coloursOfTitleAndLine()
{
    frmUpdateMe &window = startUp();
    const QColor darkBlue(0, 0, 192);
    const QColor grey(128, 128, 128);

    // What is drawn, not only what is asked: the band is white and the title's strokes dark blue.
    const QImage title = window.lblTitle->grab().toImage();
    const qreal ratio = title.devicePixelRatio();
    QCOMPARE(title.pixelColor(int((window.lblTitle->width() - 3) * ratio), int((window.lblTitle->height() - 3) * ratio)),
             QColor(Qt::white));
    bool titleInDarkBlue = false;
    QSet<QRgb> others;
    for (int y = 0; y < title.height(); ++y)
        for (int x = 0; x < title.width(); ++x) {
            const QColor pixel = title.pixelColor(x, y);
            if (pixel == darkBlue)
                titleInDarkBlue = true;
            // Anti-aliased edges lie between the two colours: no red or green in them.
            else if (pixel != QColor(Qt::white) && (pixel.red() != pixel.green() || pixel.blue() < pixel.red()))
                others.insert(pixel.rgb());
        }
    QVERIFY(titleInDarkBlue);
    QVERIFY2(others.isEmpty(), qPrintable(others.isEmpty() ? QString() : QColor(*others.begin()).name()));

    const QImage line = window.Line1->grab().toImage();
    QVERIFY(!line.isNull());
    for (int x : {0, line.width() / 2, line.width() - 1})
        QCOMPARE(line.pixelColor(x, 0), grey);
}

void tst_window::fixedNonModalDialogFrame()
{
    frmUpdateMe &window = startUp();
    QVERIFY(window.isVisible());
    const QSize client = fromTwips(0, 0, 6150, 3465).size();
    QCOMPARE(client, QSize(410, 231));
    QCOMPARE(window.size(), client);
    QCOMPARE(window.minimumSize(), client);
    QCOMPARE(window.maximumSize(), client);

    const Qt::WindowFlags flags = window.windowFlags();
    QCOMPARE(flags & Qt::WindowType_Mask, Qt::Dialog);
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowContextHelpButtonHint));
    QCOMPARE(window.parentWidget(), nullptr);

    // Start-up went on while it was on screen: nothing waits on it.
    QVERIFY(!window.isModal());
    QCOMPARE(window.windowModality(), Qt::NonModal);
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
}

void tst_window::loadFillsCaptionAndLabels()
{
    frmUpdateMe &window = startUp();
    QCOMPARE(window.windowTitle(), QStringLiteral("OLBRA(tm) - Pandexion "));
    QCOMPARE(window.lblTitle->caption(), QStringLiteral(" OLBRA Patch NH 0108"));
    QCOMPARE(window.lblTitle->text(), QStringLiteral(" OLBRA Patch NH 0108"));

    // The caption keeps the reason to the character; the label shows the CR LF as a line break.
    QCOMPARE(window.lblreason->caption(), modPatch::gPatchReason);
    QCOMPARE(window.reasonCaption(), modPatch::gPatchReason);
    QVERIFY(window.lblreason->caption().endsWith(QStringLiteral("strains. \r\n")));
    QVERIFY(!window.lblreason->text().contains(QLatin1Char('\r')));
    QVERIFY(window.lblreason->text().endsWith(QStringLiteral("strains. \n")));
    QVERIFY(window.lblreason->wordWrap());
}

void tst_window::checkBoxesStartUnticked()
{
    frmUpdateMe &window = loadedWindow();
    QCheckBox *connected = window.Check1(0);
    QCheckBox *applied = window.Check1(1);
    QCOMPARE(connected->text(), QStringLiteral("Connected to OLBRA"));
    QCOMPARE(applied->text(), QStringLiteral("Applied the Patch"));
    QCOMPARE(connected->checkState(), Qt::Unchecked);
    QCOMPARE(applied->checkState(), Qt::Unchecked);
    QVERIFY(connected->geometry().bottom() < applied->geometry().top());
    QCOMPARE(connected->objectName(), QStringLiteral("Check1"));
    QCOMPARE(applied->objectName(), QStringLiteral("Check1"));

    // Ticking through the program's own request is the ticked look, not the greyed one.
    window.setCheck1Value(0, 1);
    QCOMPARE(connected->checkState(), Qt::Checked);
    QCOMPARE(applied->checkState(), Qt::Unchecked);
}

void tst_window::iconIsTheTestPanel()
{
    frmUpdateMe &window = loadedWindow();
    const QIcon icon = window.windowIcon();
    QVERIFY(!icon.isNull());
    QCOMPARE(icon.availableSizes(), QList<QSize>{QSize(32, 32)});
    const QImage picture = icon.pixmap(QSize(32, 32), 1.0).toImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(picture.size(), QSize(32, 32));

    QSet<QRgb> colours;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            colours.insert(picture.pixel(x, y));
    QVERIFY2(colours.size() <= 16, qPrintable(QString::number(colours.size())));

    // Along a row through the wells: ten white runs. Along a row through the cells: the colours in
    // order, each run one cell.
    auto runs = [&picture](int y) {
        QList<QColor> found;
        QColor previous;
        for (int x = 0; x < picture.width(); ++x) {
            const QColor pixel = picture.pixelColor(x, y);
            if (pixel != previous)
                found.append(pixel);
            previous = pixel;
        }
        return found;
    };
    int wellRow = -1;
    int cellRow = -1;
    for (int y = 0; y < picture.height(); ++y) {
        const QList<QColor> row = runs(y);
        if (wellRow < 0 && row.count(QColor(Qt::white)) == 10)
            wellRow = y;
        if (cellRow < 0 && row.contains(QColor(Qt::yellow)))
            cellRow = y;
    }
    QVERIFY2(wellRow >= 0, "no row with ten white wells");
    QVERIFY2(cellRow > wellRow, "the coloured cells are not below the wells");
    QList<QColor> cells;
    for (const QColor &colour : runs(cellRow))
        if (colour == QColor(Qt::yellow) || colour == QColor(Qt::red) || colour == QColor(128, 0, 0))
            cells.append(colour);
    const QList<QColor> expected{Qt::yellow, Qt::yellow, Qt::yellow, Qt::yellow, Qt::yellow,
                                 Qt::red,    Qt::red,    Qt::red,    Qt::red,    QColor(128, 0, 0)};
    QCOMPARE(cells, expected);
    // The tray's frame is black.
    QCOMPARE(picture.pixelColor(0, wellRow), QColor(Qt::black));
}

void tst_window::focusStartsOnApplyAndFollowsTabOrder()
{
    frmUpdateMe &window = startUp();
    QVERIFY(waitActive(window));
    QCOMPARE(QApplication::focusWidget(), window.cmdOK);
    QVERIFY(window.cmdOK->isDefault());

    const QList<QWidget *> order{window.StatusBar, window.Command1, window.Check1(0), window.Check1(1), window.cmdOK};
    for (QWidget *next : order) {
        QTest::keyClick(window.windowHandle(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), next);
    }
    for (auto previous = order.crbegin() + 1; previous != order.crend(); ++previous) {
        QTest::keyClick(window.windowHandle(), Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), *previous);
    }

    for (QWidget *never : std::initializer_list<QWidget *>{window.lblTitle, window.Frame1, window.lblreason,
                                                            window.ProgressBar1, window.Line1})
        QCOMPARE(never->focusPolicy(), Qt::NoFocus);
}

void tst_window::keysPressTheirButtons_data()
{
    QTest::addColumn<bool>("finished");
    QTest::addColumn<int>("tabs");
    QTest::addColumn<int>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<QString>("pressed");

    const Qt::KeyboardModifiers none;
    const Qt::KeyboardModifiers alt(Qt::AltModifier);
    QTest::newRow("Enter") << false << 0 << int(Qt::Key_Return) << none << "cmdOK";
    QTest::newRow("Enter of the keypad") << false << 0 << int(Qt::Key_Enter) << Qt::KeyboardModifiers(Qt::KeypadModifier) << "cmdOK";
    QTest::newRow("Enter on Check1(0): the default button") << false << 3 << int(Qt::Key_Return) << none << "cmdOK";
    // As on any dialog: Enter presses the button that has the focus, not the default one.
    QTest::newRow("Enter on Command1: Command1") << false << 2 << int(Qt::Key_Return) << none << "Command1";
    QTest::newRow("Esc") << false << 0 << int(Qt::Key_Escape) << none << "Command1";
    QTest::newRow("Esc on Check1(1)") << false << 4 << int(Qt::Key_Escape) << none << "Command1";
    QTest::newRow("Alt+A") << false << 0 << int(Qt::Key_A) << alt << "cmdOK";
    QTest::newRow("Alt+C") << false << 0 << int(Qt::Key_C) << alt << "Command1";
    QTest::newRow("Alt+E once it reads Exit") << true << 0 << int(Qt::Key_E) << alt << "Command1";
    QTest::newRow("Esc once it reads Exit") << true << 0 << int(Qt::Key_Escape) << none << "Command1";
}

void tst_window::keysPressTheirButtons()
{
    QFETCH(bool, finished);
    QFETCH(int, tabs);
    QFETCH(int, key);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(QString, pressed);

    frmUpdateMe &window = startUp();
    if (finished)
        window.Command1->setText(QStringLiteral("&Exit"));
    QVERIFY(waitActive(window));
    for (int tab = 0; tab < tabs; ++tab)
        QTest::keyClick(window.windowHandle(), Qt::Key_Tab);
    QSignalSpy apply(window.cmdOK, &QPushButton::clicked);
    QSignalSpy cancel(window.Command1, &QPushButton::clicked);
    QSignalSpy &expected = pressed == QLatin1String("cmdOK") ? apply : cancel;
    QSignalSpy &other = pressed == QLatin1String("cmdOK") ? cancel : apply;

    QTest::keyClick(window.windowHandle(), Qt::Key(key), modifiers);

    // An access key presses its button the way the mouse does, so the click comes a moment later.
    QTRY_COMPARE(expected.count(), 1);
    QCOMPARE(other.count(), 0);
    if (pressed == QLatin1String("cmdOK")) {
        // The Apply handler ran to its end.
        QVERIFY(!window.cmdOK->isEnabled());
        QCOMPARE(window.Command1->text(), QStringLiteral("&Exit"));
        QVERIFY(modPatch::windowIsLoaded());
    } else {
        QVERIFY(!modPatch::windowIsLoaded());
    }
    QVERIFY(m_desktop->uncaught.isEmpty());
}

void tst_window::escBeforeApplyUnloadsTheWindow()
{
    frmUpdateMe &window = startUp();
    QVERIFY(waitActive(window));

    QVERIFY(programEndsAfter([&window] { QTest::keyClick(window.windowHandle(), Qt::Key_Escape); }));

    QVERIFY(window.isHidden());
    QVERIFY(!modPatch::windowIsLoaded());
    QVERIFY(m_desktop->boxes.isEmpty());
    QVERIFY(m_desktop->starts.isEmpty());
    QCOMPARE(modPatch::gStartAnswer, std::int16_t(0));
}

void tst_window::escAfterApplyAsksToStartOlbra_data()
{
    QTest::addColumn<std::int16_t>("answer");
    QTest::addColumn<bool>("started");

    QTest::newRow("Yes starts OLBRA") << olbra::Answer::Yes << true;
    QTest::newRow("No starts nothing") << olbra::Answer::No << false;
}

void tst_window::escAfterApplyAsksToStartOlbra()
{
    QFETCH(std::int16_t, answer);
    QFETCH(bool, started);

    frmUpdateMe &window = startUp();
    window.Command1->setText(QStringLiteral("&Exit"));
    QVERIFY(waitActive(window));
    m_desktop->questionAnswers = {answer};

    QTest::keyClick(window.windowHandle(), Qt::Key_Escape);

    QCOMPARE(m_desktop->boxes.size(), 1);
    QCOMPARE(m_desktop->boxes[0].kind, BoxKind::Question);
    QCOMPARE(m_desktop->boxes[0].title, QStringLiteral("OLBRA Update"));
    QCOMPARE(m_desktop->boxes[0].text, QStringLiteral("Would you like to start OLBRA now?"));
    QCOMPARE(modPatch::gStartAnswer, answer);
    QCOMPARE(m_desktop->starts.size(), started ? 1 : 0);
    if (started) {
        QCOMPARE(m_desktop->starts[0].name, QStringLiteral("OLBRA.exe"));
        QCOMPARE(m_desktop->starts[0].showState, olbra::ShowMinimized);
    }
    QVERIFY(!modPatch::windowIsLoaded());
}

void tst_window::closeBoxUnloadsWithoutHandler_data()
{
    QTest::addColumn<bool>("finished");
    QTest::addColumn<QString>("how");

    for (bool finished : {false, true}) {
        const char *state = finished ? "after Apply" : "before Apply";
        QTest::addRow("close box, %s", state) << finished << "window system";
        QTest::addRow("close(), %s", state) << finished << "close";
        QTest::addRow("close event, %s", state) << finished << "event";
    }
}

void tst_window::closeBoxUnloadsWithoutHandler()
{
    QFETCH(bool, finished);
    QFETCH(QString, how);

    frmUpdateMe &window = startUp();
    if (finished)
        window.Command1->setText(QStringLiteral("&Exit"));
    QVERIFY(waitActive(window));
    QSignalSpy cancel(window.Command1, &QPushButton::clicked);

    if (how == QLatin1String("window system")) {
        QVERIFY(programEndsAfter([&window] { window.windowHandle()->close(); }));
    } else if (how == QLatin1String("close")) {
        QVERIFY(programEndsAfter([&window] { window.close(); }));
    } else {
        QCloseEvent event;
        QCoreApplication::sendEvent(&window, &event);
        QVERIFY(event.isAccepted());
    }

    QVERIFY(window.isHidden());
    QVERIFY(!modPatch::windowIsLoaded());
    QCOMPARE(cancel.count(), 0);
    QVERIFY(m_desktop->boxes.isEmpty());
    QVERIFY(m_desktop->starts.isEmpty());
    QCOMPARE(modPatch::gStartAnswer, std::int16_t(0));
    QCOMPARE(m_desktop->endCount, 0);
}

void tst_window::showStatusReplacesOnlyPanelOne()
{
    frmUpdateMe &window = startUp();
    const QString date = window.statusPanelText(3);
    const QString version = window.statusPanelText(2);
    QCOMPARE(version, QStringLiteral("Ver: 1.0.76 "));
    QCOMPARE(window.statusPanelText(1), QStringLiteral("Click Apply to apply the patch."));

    modPatch::ShowStatus(QStringLiteral("Getting Update information...."));
    modPatch::ShowStatus(QStringLiteral("Done!"));

    QCOMPARE(window.StatusBar->panel(1)->text(), QStringLiteral("Done!"));
    QCOMPARE(window.StatusBar->panel(2)->text(), version);
    QCOMPARE(window.StatusBar->panel(3)->text(), date);

    // Today in the system's short format; a run across midnight may see either day.
    const QString after = today();
    QVERIFY2(date == after || date == QLocale::system().toString(QDate::currentDate().addDays(-1), QLocale::ShortFormat),
             qPrintable(date + QStringLiteral(" / ") + after));
}

void tst_window::datePanelTurnsOverAtMidnight()
{
    frmUpdateMe &window = startUp();
    const QDate day(2008, 1, 18);
    QDateTime now(day, QTime(23, 59, 59));
    window.StatusBar->setClock([&now] { return now; });
    QCOMPARE(window.statusPanelText(3), QLocale::system().toString(day, QLocale::ShortFormat));

    // The panel wakes by itself just after midnight and shows the new day.
    now = QDateTime(day.addDays(1), QTime(0, 0, 1));
    QTRY_COMPARE_WITH_TIMEOUT(window.statusPanelText(3), QLocale::system().toString(day.addDays(1), QLocale::ShortFormat), 10000);
}

void tst_window::statusPanelWidths_data()
{
    QTest::addColumn<QString>("second");

    QTest::newRow("empty panel 2") << QString();
    QTest::newRow("the version") << QStringLiteral("Ver: 1.0.76 ");
    QTest::newRow("a text wider than 800 twips") << QStringLiteral("Ver: 1.0.76 built on the third of January");
}

void tst_window::statusPanelWidths()
{
    QFETCH(QString, second);

    frmUpdateMe &window = loadedWindow();
    window.setStatusPanelText(2, second);
    window.setStatusPanelText(1, QStringLiteral("Click Apply to apply the patch."));
    QLabel *one = window.StatusBar->panel(1);
    QLabel *two = window.StatusBar->panel(2);
    QLabel *three = window.StatusBar->panel(3);
    const int barWidth = window.StatusBar->width();
    const int minimum = 800 / 15;
    const int textWidth = two->fontMetrics().horizontalAdvance(second);

    QCOMPARE(three->width(), qRound(1000 / 15.0));
    QVERIFY(two->width() >= minimum);
    // As wide as its text: the whole text fits, with no more room than the frame needs.
    QVERIFY2(two->contentsRect().width() >= textWidth, qPrintable(QString::number(two->width())));
    if (textWidth > minimum)
        QVERIFY2(two->width() <= textWidth + 16, qPrintable(QString::number(two->width())));
    else
        QCOMPARE(two->width(), minimum);
    QCOMPARE(one->x(), 0);
    QCOMPARE(two->x(), one->width());
    QCOMPARE(three->x(), one->width() + two->width());
    QCOMPARE(one->width(), barWidth - two->width() - three->width());
    for (QLabel *panel : {one, two, three})
        QCOMPARE(panel->height(), window.StatusBar->height());
}

void tst_window::setProgressMovesTheBar()
{
    frmUpdateMe &window = startUp();
    QProgressBar *bar = window.ProgressBar1;
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 100);
    QCOMPARE(bar->value(), 0);
    QCOMPARE(bar->orientation(), Qt::Horizontal);
    QSignalSpy moved(bar, &QProgressBar::valueChanged);

    modPatch::SetProgress(50);
    QCOMPARE(bar->value(), 50);
    modPatch::SetProgress(50);
    QCOMPARE(moved.count(), 1);
    modPatch::SetProgress(100);
    QCOMPARE(bar->value(), 100);
    QCOMPARE(moved.count(), 2);
}

void tst_window::setProgressRefusesOutOfRange_data()
{
    QTest::addColumn<std::int16_t>("value");

    QTest::newRow("-1") << std::int16_t(-1);
    QTest::newRow("101") << std::int16_t(101);
    QTest::newRow("lowest 16-bit value") << std::int16_t(-32768);
    QTest::newRow("highest 16-bit value") << std::int16_t(32767);
}

void tst_window::setProgressRefusesOutOfRange()
{
    QFETCH(std::int16_t, value);

    frmUpdateMe &window = startUp();
    modPatch::SetProgress(30);
    try {
        modPatch::SetProgress(value);
        QFAIL("the bar took a value outside 0 to 100");
    } catch (const Failure &failure) {
        QCOMPARE(failure.number(), 380);
        QVERIFY2(failure.description().startsWith(QStringLiteral("Invalid property value")), qPrintable(failure.description()));
        QVERIFY2(failure.description().contains(QString::number(value)), qPrintable(failure.description()));
    }
    QCOMPARE(window.ProgressBar1->value(), 30);
    // The feedback routine passes the failure on; nothing reports it by itself.
    QVERIFY(m_desktop->boxes.isEmpty());
    QCOMPARE(modPatch::gPatchError, std::int16_t(0));
}

QTEST_MAIN(tst_window)
#include "tst_window.moc"
