#pragma once

#include "PatchWindow.h"
#include "Failure.h"

#include <QList>
#include <QString>

#include <array>

/// A patch window that only records what the program does to it, for the patch routines' tests.
class RecordingWindow : public modPatch::PatchWindow {
public:
    void Show() override { loaded = true; }
    bool isLoaded() const override { return loaded; }
    void setCheck1Value(int index, int value) override { check1.at(index) = value; }
    void setStatusPanelText(int panel, const QString &text) override
    {
        panels.at(panel - 1) = text;
        statusHistory.append(text);
    }
    QString statusPanelText(int panel) const override { return panels.at(panel - 1); }
    void setProgressBarValue(float value) override
    {
        if (value < 0 || value > 100)
            throw olbra::Failure(olbra::ErrorCode::InvalidPropertyValue, QStringLiteral("Invalid property value"));
        progress.append(value);
    }
    QString reasonCaption() const override { return reason; }
    void setReasonCaption(const QString &caption) override { reason = caption; }

    bool loaded = false;
    std::array<int, 2> check1{};
    std::array<QString, 3> panels;
    QList<QString> statusHistory;
    QList<float> progress;
    QString reason;
};
