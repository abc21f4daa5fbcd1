#include "ChildModes.h"

#include "BenchPlatform.h"
#include "ChildProcess.h"
#include "frmUpdateMe.h"
#include "modPatch.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

namespace bench {

namespace {

const QString Ready = QStringLiteral("Click Apply to apply the patch.");
double g_mainEntered = 0;

int refuse(const QString &what, const QStringList &incidents = {})
{
    std::fprintf(stderr, "%s\n", qPrintable(what));
    for (const QString &incident : incidents)
        std::fprintf(stderr, "  %s\n", qPrintable(incident));
    return 2;
}

void mark(const char *name, double at) { std::printf("at.%s=%.9f\n", name, at); }

// The offscreen platform is chosen here, before the application exists, so that the result
// does not depend on the caller's environment.
void chooseOffscreen() { qputenv("QT_QPA_PLATFORM", "offscreen"); }

/// Notes the top-level window's first paint: a window is ready once it has been drawn.
class PaintWatch : public QObject {
public:
    explicit PaintWatch(QWidget *window) { window->installEventFilter(this); }
    bool painted = false;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            painted = true;
        return QObject::eventFilter(watched, event);
    }
};

bool waitForFirstPaint(QWidget *window)
{
    PaintWatch watch(window);
    bool late = false;
    QTimer::singleShot(10000, window, [&late] { late = true; });
    while (!watch.painted && !late)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return watch.painted;
}

/// The program's own start-up on the real window, offscreen, as main() runs it.
class WindowStartUp {
public:
    explicit WindowStartUp(const QString &folder) : m_desktop(folder)
    {
        modPatch::setWindowFactory([this] {
            windowStart = monotonicNow();
            auto made = std::make_unique<frmUpdateMe>();
            window = made.get();
            windowBuilt = monotonicNow();
            return made;
        });
    }
    ~WindowStartUp() { modPatch::ResetPatchState(); }
    WindowStartUp(const WindowStartUp &) = delete;
    WindowStartUp &operator=(const WindowStartUp &) = delete;

    bool start()
    {
        olbra::runGuarded(modPatch::Main);
        mainReturned = monotonicNow();
        return window && window->statusPanelText(1) == Ready && window->Check1(0)->isChecked() && m_desktop.incidents.isEmpty()
            && waitForFirstPaint(window);
    }
    const BenchPlatform &desktop() const { return m_desktop; }

    frmUpdateMe *window = nullptr;
    double windowStart = 0;
    double windowBuilt = 0;
    double mainReturned = 0;

private:
    BenchPlatform m_desktop;
};

} // namespace

void markMainEntered() { g_mainEntered = monotonicNow(); }

int childApply(const QString &folder)
{
    BenchPlatform desktop(folder);
    BenchWindow *window = nullptr;
    modPatch::setWindowFactory([&window] {
        auto made = std::make_unique<BenchWindow>();
        window = made.get();
        return made;
    });
    olbra::runGuarded(modPatch::Main);
    if (!window || window->statusPanelText(1) != Ready || !desktop.incidents.isEmpty())
        return refuse(QStringLiteral("start-up did not reach the ready window"), desktop.incidents);
    const double ready = monotonicNow();

    // The Apply handler's own sequence, on the window kept in memory, timed step by step.
    double patched = 0, history = 0;
    olbra::runGuarded([&] {
        const bool done = modPatch::PatchDatabase();
        modPatch::SetProgress(80);
        patched = monotonicNow();
        if (done)
            modPatch::WriteUpdateHistory();
        modPatch::SetProgress(90);
        history = monotonicNow();
        modPatch::FinishPatch();
        modPatch::SetProgress(100);
    });
    const double finished = monotonicNow();

    if (window->statusPanelText(1) != QStringLiteral("Done!") || window->check1(1) != 1 || !desktop.incidents.isEmpty()
        || window->progress() != QList<float>{10, 50, 80, 90, 100})
        return refuse(QStringLiteral("Apply did not end in \"Done!\": %1").arg(window->statusPanelText(1)), desktop.incidents);
    mark("main", g_mainEntered);
    mark("ready", ready);
    mark("patched", patched);
    mark("history", history);
    mark("finished", finished);
    return 0;
}

int childClick(const QString &folder)
{
    chooseOffscreen();
    int argc = 1;
    char name[] = "olbra_bench";
    char *argv[] = {name, nullptr};
    QApplication application(argc, argv);
    WindowStartUp startUp(folder);
    if (!startUp.start())
        return refuse(QStringLiteral("start-up did not reach the ready window"), startUp.desktop().incidents);

    const double click = monotonicNow();
    startUp.window->cmdOK->click();
    const double finished = monotonicNow();

    if (startUp.window->statusPanelText(1) != QStringLiteral("Done!") || !startUp.window->Check1(1)->isChecked()
        || !startUp.desktop().incidents.isEmpty())
        return refuse(QStringLiteral("Apply did not end in \"Done!\": %1").arg(startUp.window->statusPanelText(1)),
                      startUp.desktop().incidents);
    mark("click", click);
    mark("finished", finished);
    return 0;
}

int childStartUp(const QString &folder)
{
    chooseOffscreen();
    int argc = 1;
    char name[] = "olbra_bench";
    char *argv[] = {name, nullptr};
    QApplication application(argc, argv);
    const double applicationMade = monotonicNow();
    WindowStartUp startUp(folder);
    if (!startUp.start())
        return refuse(QStringLiteral("start-up did not reach the ready window"), startUp.desktop().incidents);
    const double painted = monotonicNow();
    std::puts("ready");
    std::fflush(stdout);
    mark("main", g_mainEntered);
    mark("application", applicationMade);
    mark("window_start", startUp.windowStart);
    mark("window_built", startUp.windowBuilt);
    mark("connection", startUp.desktop().connectionAt);
    mark("main_returned", startUp.mainReturned);
    mark("painted", painted);
    return 0;
}

int childBareDialog()
{
    chooseOffscreen();
    int argc = 1;
    char name[] = "olbra_bench";
    char *argv[] = {name, nullptr};
    QApplication application(argc, argv);
    const double applicationMade = monotonicNow();
    QDialog dialog;
    dialog.setFixedSize(410, 231);
    dialog.show();
    const double shown = monotonicNow();
    if (!waitForFirstPaint(&dialog))
        return refuse(QStringLiteral("the bare dialog was never painted"));
    const double painted = monotonicNow();
    std::puts("ready");
    std::fflush(stdout);
    mark("main", g_mainEntered);
    mark("application", applicationMade);
    mark("main_returned", shown);
    mark("painted", painted);
    return 0;
}

} // namespace bench
