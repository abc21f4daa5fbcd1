#pragma once

#include "Platform.h"
#include "PatchWindow.h"

#include <QList>
#include <QString>

#include <array>

/// The desktop of a benchmark child: the program file sits beside the copy of the product
/// database, and every box is recorded and answered at once (OK, or No to the question), so that
/// nothing waits for a person. It puts itself in place for its lifetime.
class BenchPlatform : public olbra::Platform {
public:
    explicit BenchPlatform(const QString &programFolder);
    ~BenchPlatform() override;
    BenchPlatform(const BenchPlatform &) = delete;
    BenchPlatform &operator=(const BenchPlatform &) = delete;

    std::int16_t messageBox(olbra::BoxKind kind, const QString &title, const QString &text) override;
    QString programFile() const override;
    void startProgram(const QString &name, int showState) override;
    void endProgram() override;
    void endWithUncaughtFailure(const olbra::Failure &failure) override;
    std::unique_ptr<olbra::DataConnection> createDataConnection() override;

    /// When start-up asked for its data connection: the database work of start-up begins there.
    double connectionAt = 0;
    /// Every box and end the run asked for, one line each; empty after a clean run.
    QStringList incidents;

private:
    QString m_programFile;
};

/// A patch window that keeps only what the outcome needs: the data work's timing is not to
/// include drawing widgets when it is set beside a shell that draws none.
class BenchWindow : public modPatch::PatchWindow {
public:
    void Show() override { m_loaded = true; }
    bool isLoaded() const override { return m_loaded; }
    void setCheck1Value(int index, int value) override { m_check1.at(index) = value; }
    void setStatusPanelText(int panel, const QString &text) override { m_panels.at(panel - 1) = text; }
    QString statusPanelText(int panel) const override { return m_panels.at(panel - 1); }
    void setProgressBarValue(float value) override;
    QString reasonCaption() const override { return m_reason; }
    void setReasonCaption(const QString &caption) override { m_reason = caption; }

    const QList<float> &progress() const { return m_progress; }
    int check1(int index) const { return m_check1.at(index); }

private:
    bool m_loaded = false;
    std::array<int, 2> m_check1{};
    std::array<QString, 3> m_panels;
    QList<float> m_progress;
    QString m_reason;
};
