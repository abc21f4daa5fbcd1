#pragma once

#include "Platform.h"

#include <QList>
#include <QString>

#include <functional>

/// A desktop for tests: records every message box and answers it as scripted, records the
/// programs it is asked to start and the ends it is asked for, and can stand in for the program
/// file and the data connection. It puts itself in place for its lifetime.
class StandInPlatform : public olbra::Platform {
public:
    struct Box {
        olbra::BoxKind kind;
        QString title;
        QString text;
    };
    struct Start {
        QString name;
        int showState;
    };

    StandInPlatform();
    ~StandInPlatform() override;

    std::int16_t messageBox(olbra::BoxKind kind, const QString &title, const QString &text) override;
    QString programFile() const override;
    void startProgram(const QString &name, int showState) override;
    void endProgram() override;
    void endWithUncaughtFailure(const olbra::Failure &failure) override;
    std::unique_ptr<olbra::DataConnection> createDataConnection() override;

    QList<Box> boxes;
    QList<Start> starts;
    int endCount = 0;
    QList<olbra::Failure> uncaught;

    /// Answers to the question boxes, in order; Yes once they run out.
    QList<std::int16_t> questionAnswers;
    /// Empty: the real program file.
    QString programFilePath;
    /// Set: starting a program goes to the real desktop with this path as the program folder
    /// (the lookup and the start are real); unset: the start is only recorded.
    bool startForReal = false;
    /// Set: the data connections the program creates come from here.
    std::function<std::unique_ptr<olbra::DataConnection>()> connectionFactory;
};
