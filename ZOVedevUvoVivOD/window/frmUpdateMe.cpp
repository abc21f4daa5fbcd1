#include "frmUpdateMe.h"

#include "Platform.h"
#include "modPatch.h"

#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <xcb/xcb.h>

#include "frmUpdateMe.xpm"

#include <cmath>

using olbra::BoxKind;
using olbra::Failure;

namespace {

QFont arial(qreal points, bool bold = false, bool italic = false)
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points);
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(frmUpdateMe::twips(left), frmUpdateMe::twips(top), frmUpdateMe::twips(width), frmUpdateMe::twips(height));
}

// Asks the window manager to keep the window out of the task bar. Qt has no call for it, so the
// state goes on the X11 window before it is mapped; Qt keeps states it did not set itself.
void skipTaskbar(QWidget *widget)
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11)
        return;
    xcb_connection_t *connection = x11->connection();
    auto atom = [connection](const char *name) {
        xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(qstrlen(name)), name), nullptr);
        const xcb_atom_t found = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
        free(reply);
        return found;
    };
    const xcb_atom_t state = atom("_NET_WM_STATE");
    const xcb_atom_t skip = atom("_NET_WM_STATE_SKIP_TASKBAR");
    if (state == XCB_ATOM_NONE || skip == XCB_ATOM_NONE)
        return;
    xcb_change_property(connection, XCB_PROP_MODE_APPEND, static_cast<xcb_window_t>(widget->winId()), state,
                        XCB_ATOM_ATOM, 32, 1, &skip);
    xcb_flush(connection);
}

} // namespace

void CaptionLabel::setCaption(const QString &caption)
{
    m_caption = caption;
    QString shown = caption;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    setText(shown);
}

PatchStatusBar::PatchStatusBar(QWidget *parent) : QWidget(parent), m_midnight(new QTimer(this))
{
    for (QLabel *&panel : m_panels) {
        panel = new QLabel(this);
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setIndent(2);
    }
    m_midnight->setSingleShot(true);
    connect(m_midnight, &QTimer::timeout, this, &PatchStatusBar::showToday);
    showToday();
}

QLabel *PatchStatusBar::panel(int number) const { return m_panels.at(number - 1); }

void PatchStatusBar::setPanelText(int number, const QString &text)
{
    panel(number)->setText(text);
    layoutPanels();
}

void PatchStatusBar::setClock(std::function<QDateTime()> clock)
{
    m_clock = std::move(clock);
    showToday();
}

void PatchStatusBar::showToday()
{
    const QDateTime now = m_clock();
    m_panels[2]->setText(QLocale::system().toString(now.date(), QLocale::ShortFormat));
    // Wake just after the next midnight, so that the date stays current.
    const qint64 untilMidnight = now.msecsTo(QDateTime(now.date().addDays(1), QTime(0, 0))) + 1000;
    m_midnight->start(static_cast<int>(std::min<qint64>(untilMidnight, 24LL * 3600 * 1000)));
}

void PatchStatusBar::resizeEvent(QResizeEvent *) { layoutPanels(); }

void PatchStatusBar::layoutPanels()
{
    // Panel 3 is 1000 twips; panel 2 is as wide as its text, at least 800; panel 1 takes the rest,
    // at least 800.
    const int minimum = frmUpdateMe::twips(800);
    const int third = frmUpdateMe::twips(1000);
    const int second = std::max(minimum, m_panels[1]->sizeHint().width());
    const int first = std::max(minimum, width() - second - third);
    m_panels[0]->setGeometry(0, 0, first, height());
    m_panels[1]->setGeometry(first, 0, second, height());
    m_panels[2]->setGeometry(first + second, 0, third, height());
}

frmUpdateMe::frmUpdateMe(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
                          | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("frmUpdateMe"));
    setWindowTitle(QStringLiteral("OLBRA Patch"));
    // Compiled in and read straight from its pixel rows: no resource to link and no image plugins
    // to look through at start-up.
    setWindowIcon(QIcon(QPixmap(frmUpdateMeIcon)));
    setFixedSize(twips(6150), twips(3465));
    setModal(false);
    // The controls' own font, which the design's sizes were made for; the two labels set theirs.
    setFont(arial(8.25));
    setAttribute(Qt::WA_QuitOnClose, true);

    // Created in the order of the design, which is also the order of their z-stacking.
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(twipsRect(60, 2880, 6045, 165));
    ProgressBar1->setOrientation(Qt::Horizontal);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);

    cmdOK = new QPushButton(QStringLiteral("&Apply"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setGeometry(twipsRect(4920, 600, 1095, 405));
    cmdOK->setToolTip(QStringLiteral("Click to apply the patch"));
    cmdOK->setDefault(true);

    Frame1 = new QGroupBox(QStringLiteral("Progress.. "), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setGeometry(twipsRect(120, 600, 4275, 1035));
    Frame1->setFocusPolicy(Qt::NoFocus);

    m_check1[1] = new QCheckBox(QStringLiteral("Applied the Patch"), Frame1);
    m_check1[1]->setGeometry(twipsRect(240, 660, 1935, 225));
    m_check1[0] = new QCheckBox(QStringLiteral("Connected to OLBRA"), Frame1);
    m_check1[0]->setGeometry(twipsRect(240, 360, 1935, 225));
    for (int index = 0; index < 2; ++index) {
        m_check1[index]->setObjectName(QStringLiteral("Check1"));
        m_check1[index]->setProperty("Index", index);
    }

    Command1 = new QPushButton(QStringLiteral("&Cancel"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(twipsRect(4920, 1080, 1095, 405));
    Command1->setToolTip(QStringLiteral("Click to cancel and abort the patch"));
    // Enter presses the button that has the focus, as on any dialog; elsewhere it presses cmdOK.
    Command1->setAutoDefault(true);
    cmdOK->setAutoDefault(true);

    StatusBar = new PatchStatusBar(this);
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    StatusBar->setGeometry(twipsRect(0, 3120, 6150, 345));
    StatusBar->setFocusPolicy(Qt::TabFocus);

    Line1 = new QFrame(this);
    Line1->setObjectName(QStringLiteral("Line1"));
    Line1->setGeometry(twips(120), twips(1740), twips(6180) - twips(120), 1);
    Line1->setFrameStyle(QFrame::NoFrame);
    Line1->setAutoFillBackground(true);
    QPalette grey = Line1->palette();
    grey.setColor(QPalette::Window, QColor(128, 128, 128));
    Line1->setPalette(grey);

    lblreason = new CaptionLabel(this);
    lblreason->setObjectName(QStringLiteral("lblreason"));
    lblreason->setGeometry(twipsRect(120, 1830, 5925, 975));
    lblreason->setFont(arial(8.25));
    lblreason->setWordWrap(true);
    lblreason->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblreason->setTextFormat(Qt::PlainText);

    lblTitle = new CaptionLabel(this);
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    lblTitle->setGeometry(twipsRect(0, 30, 6135, 465));
    lblTitle->setFont(arial(12, true, true));
    lblTitle->setTextFormat(Qt::PlainText);
    lblTitle->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblTitle->setAutoFillBackground(true);
    QPalette title = lblTitle->palette();
    title.setColor(QPalette::Window, Qt::white);
    title.setColor(QPalette::WindowText, QColor(0, 0, 192));
    lblTitle->setPalette(title);

    // Labels, the frame and the bar never take the focus; the rest follow the design's order.
    setTabOrder(cmdOK, StatusBar);
    setTabOrder(StatusBar, Command1);
    setTabOrder(Command1, m_check1[0]);
    setTabOrder(m_check1[0], m_check1[1]);
    ProgressBar1->setFocusPolicy(Qt::NoFocus);

    connect(cmdOK, &QPushButton::clicked, this, [this] { olbra::runGuarded([this] { cmdOK_Click(); }); });
    connect(Command1, &QPushButton::clicked, this, [this] { olbra::runGuarded([this] { Command1_Click(); }); });
}

frmUpdateMe::~frmUpdateMe() = default;

int frmUpdateMe::twips(int value) { return static_cast<int>(std::lround(value / 15.0)); }

void frmUpdateMe::Form_Load()
{
    lblreason->setCaption(modPatch::gPatchReason);
    lblTitle->setCaption(QStringLiteral(" ") + modPatch::gPatchTitle);
    setWindowTitle(QStringLiteral("OLBRA(tm) - Pandexion "));
}

void frmUpdateMe::Show()
{
    if (!m_loaded) {
        Form_Load();
        m_loaded = true;
    }
    show();
    cmdOK->setFocus();
}

bool frmUpdateMe::isLoaded() const { return m_loaded && !isHidden(); }

void frmUpdateMe::setCheck1Value(int index, int value)
{
    if (index < 0 || index > 1 || value < 0 || value > 2)
        throw Failure(olbra::ErrorCode::InvalidPropertyValue, QStringLiteral("Invalid property value"));
    // 0 clear, 1 ticked, 2 greyed.
    static constexpr Qt::CheckState states[] = {Qt::Unchecked, Qt::Checked, Qt::PartiallyChecked};
    m_check1[index]->setCheckState(states[value]);
}

void frmUpdateMe::setStatusPanelText(int panel, const QString &text)
{
    if (panel < 1 || panel > 3)
        throw Failure(olbra::ErrorCode::ItemNotFound, QStringLiteral("Status bar panel %1 does not exist").arg(panel));
    StatusBar->setPanelText(panel, text);
}

QString frmUpdateMe::statusPanelText(int panel) const
{
    if (panel < 1 || panel > 3)
        throw Failure(olbra::ErrorCode::ItemNotFound, QStringLiteral("Status bar panel %1 does not exist").arg(panel));
    return StatusBar->panel(panel)->text();
}

void frmUpdateMe::setProgressBarValue(float value)
{
    // The bar would ignore such a value silently; the program's callers must hear of it.
    if (!(value >= ProgressBar1->minimum() && value <= ProgressBar1->maximum()))
        throw Failure(olbra::ErrorCode::InvalidPropertyValue,
                      QStringLiteral("Invalid property value: %1 is outside the progress range 0 to 100").arg(value));
    ProgressBar1->setValue(static_cast<int>(value));
}

QString frmUpdateMe::reasonCaption() const { return lblreason->caption(); }

void frmUpdateMe::setReasonCaption(const QString &caption) { lblreason->setCaption(caption); }

void frmUpdateMe::keyPressEvent(QKeyEvent *event)
{
    // Esc presses the cancel button, so that it runs Command1's handler rather than only closing.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        if (Command1->isEnabled())
            Command1->click();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void frmUpdateMe::showEvent(QShowEvent *event)
{
    if (!m_centred) {
        skipTaskbar(this);
        centreOnScreen();
    }
    QDialog::showEvent(event);
}

void frmUpdateMe::moveEvent(QMoveEvent *event)
{
    QDialog::moveEvent(event);
    // The window manager's frame is known only once it has framed the window; centre once more then.
    if (!m_centred && frameGeometry() != geometry()) {
        centreOnScreen();
        m_centred = true;
    }
}

void frmUpdateMe::centreOnScreen()
{
    const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    // A window's position is that of its frame.
    const QSize frame = frameGeometry().size();
    move(available.center() - QPoint(frame.width() / 2, frame.height() / 2));
}

void frmUpdateMe::Unload()
{
    close();
}

void frmUpdateMe::cmdOK_Click()
{
    // The history row records an applied patch: it is not written after a failed patch.
    const bool patched = modPatch::PatchDatabase();
    modPatch::SetProgress(80);
    if (patched)
        modPatch::WriteUpdateHistory();
    modPatch::SetProgress(90);
    modPatch::FinishPatch();
    modPatch::SetProgress(100);
    cmdOK->setEnabled(false);
    Command1->setToolTip(QStringLiteral("Exit Patch"));
    Command1->setText(QStringLiteral("&Exit"));
}

void frmUpdateMe::Command1_Click()
{
    try {
        if (Command1->text() != QLatin1String("&Exit")) {
            Unload();
            return;
        }
        modPatch::gStartAnswer = olbra::MsgBox(BoxKind::Question, QStringLiteral("Would you like to start OLBRA now?"),
                                               QStringLiteral("OLBRA Update"));
        if (modPatch::gStartAnswer == olbra::Answer::Yes)
            olbra::platform().startProgram(QStringLiteral("OLBRA.exe"), olbra::ShowMinimized);
        Unload();
    } catch (const Failure &) {
        olbra::MsgBox(BoxKind::Notice, QStringLiteral("Could not find OLBRA... please select from your Program Files menu"));
        Unload();
    }
}
