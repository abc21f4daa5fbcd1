#include "Platform.h"

#include "ProgramStarter.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

#include <cstdio>
#include <cstdlib>

namespace olbra {

QString programTitle() { return QStringLiteral("OLBRA Patch"); }

Platform::~Platform() = default;

std::int16_t Platform::messageBox(BoxKind kind, const QString &title, const QString &text)
{
    QMessageBox box;
    box.setWindowTitle(title);
    box.setText(text);
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    switch (kind) {
    case BoxKind::Failure:
        box.setIcon(QMessageBox::Critical);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case BoxKind::Notice:
        box.setIcon(QMessageBox::NoIcon);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case BoxKind::Question:
        box.setIcon(QMessageBox::NoIcon);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
        break;
    }
    const int answer = box.exec();
    if (kind != BoxKind::Question)
        return Answer::OK;
    return answer == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

QString Platform::programFile() const { return QCoreApplication::applicationFilePath(); }

void Platform::startProgram(const QString &name, int showState)
{
    const QString found = findProgram(name, programFolder(), qEnvironmentVariable("PATH"));
    if (found.isEmpty())
        throw Failure(ErrorCode::FileNotFound, QStringLiteral("File not found: %1").arg(name));
    startDetached(found, showState);
}

void Platform::endProgram()
{
    std::fflush(nullptr);
    std::_Exit(ExitCode::NoDatabase);
}

void Platform::endWithUncaughtFailure(const Failure &failure)
{
    const QString text = QStringLiteral("Run-time error '%1':\n\n%2").arg(failure.number()).arg(failure.description());
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    std::fflush(nullptr);
    try {
        if (qobject_cast<QApplication *>(QCoreApplication::instance()))
            messageBox(BoxKind::Failure, programTitle(), text);
    } catch (...) {
        // The report on standard error stands; the program ends all the same.
    }
    std::_Exit(ExitCode::UncaughtFailure);
}

std::unique_ptr<DataConnection> Platform::createDataConnection() { return std::make_unique<DataConnection>(); }

QDate Platform::currentDate() const { return QDate::currentDate(); }

QString Platform::programFolder() const { return QFileInfo(programFile()).absolutePath(); }

QString Platform::executableName() const { return QFileInfo(programFile()).completeBaseName(); }

namespace {
Platform *g_standIn = nullptr;
} // namespace

Platform &platform()
{
    static Platform desktop;
    return g_standIn ? *g_standIn : desktop;
}

void setPlatform(Platform *standIn) { g_standIn = standIn; }

std::int16_t MsgBox(BoxKind kind, const QString &text, const QString &title)
{
    return platform().messageBox(kind, title.isEmpty() ? programTitle() : title, text);
}

} // namespace olbra
