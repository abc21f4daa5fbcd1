#pragma once

#include "PatchWindow.h"

#include <QDialog>
#include <QLabel>

#include <QDateTime>

#include <array>
#include <functional>

class QCheckBox;
class QFrame;
class QGroupBox;
class QProgressBar;
class QPushButton;
class QTimer;

/// A label whose caption is kept exactly as the program set it (CR LF included) and shown with
/// each CR LF as a line break.
class CaptionLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
    QString caption() const { return m_caption; }
    void setCaption(const QString &caption);

private:
    QString m_caption;
};

/// The three-panel status bar: two text panels and the current date.
class PatchStatusBar : public QWidget {
    Q_OBJECT
public:
    explicit PatchStatusBar(QWidget *parent);
    QLabel *panel(int number) const; // 1 to 3
    void setPanelText(int number, const QString &text);
    /// Where the date panel reads the time; the system clock unless a test sets another.
    void setClock(std::function<QDateTime()> clock);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void layoutPanels();
    void showToday();

    std::array<QLabel *, 3> m_panels{};
    QTimer *m_midnight;
    std::function<QDateTime()> m_clock = &QDateTime::currentDateTime;
};

/// The patch window: the patch's title and reason, its progress, Apply and Cancel/Exit.
class frmUpdateMe : public QDialog, public modPatch::PatchWindow {
    Q_OBJECT
public:
    explicit frmUpdateMe(QWidget *parent = nullptr);
    ~frmUpdateMe() override;

    // modPatch::PatchWindow
    void Show() override;
    bool isLoaded() const override;
    void setCheck1Value(int index, int value) override;
    void setStatusPanelText(int panel, const QString &text) override;
    QString statusPanelText(int panel) const override;
    void setProgressBarValue(float value) override;
    QString reasonCaption() const override;
    void setReasonCaption(const QString &caption) override;

    /// Twips to device-independent pixels: 15 twips make one pixel at 96 dpi.
    static int twips(int value);

    QCheckBox *Check1(int index) const { return m_check1[index]; }

    QProgressBar *ProgressBar1;
    QPushButton *cmdOK;
    QGroupBox *Frame1;
    QPushButton *Command1;
    PatchStatusBar *StatusBar;
    QFrame *Line1;
    CaptionLabel *lblreason;
    CaptionLabel *lblTitle;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void moveEvent(QMoveEvent *event) override;

private:
    void Form_Load();
    void cmdOK_Click();
    void Command1_Click();
    void Unload();
    void centreOnScreen();

    std::array<QCheckBox *, 2> m_check1{};
    bool m_loaded = false;
    bool m_centred = false;
};
