#include "Platform.h"
#include "frmUpdateMe.h"
#include "modPatch.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    modPatch::setWindowFactory([] { return std::make_unique<frmUpdateMe>(); });
    olbra::runGuarded(modPatch::Main);
    // A failure before the window came up leaves nothing to wait for.
    if (!modPatch::windowIsLoaded())
        return olbra::ExitCode::Normal;
    return application.exec();
}
