// Program start: configuration first, then the main window and the event loop.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstring>
#include <exception>

#include "app/SignalClose.h"
#include "app/WayfolioFr.h"
#include "app/WindowLayout.h"
#include "config/AuxProj.h"
#include "config/CmdLine.h"
#include "config/EAbort.h"
#include "store/Database.h"

namespace {

// The last line of the general error handler: an exception that escapes an event
// handler is shown and the program goes on.
class TApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const EAbort&) {
        } catch (const std::exception& e) {
            QMessageBox::critical(activeWindow(), applicationName(),
                                  QString::fromLocal8Bit(e.what()));
        } catch (...) {
            QMessageBox::critical(activeWindow(), applicationName(), "Unknown error");
        }
        return false;
    }
};

constexpr const char* kHelp =
    "Usage: wayfolio [-I:FILE] [QT-OPTIONS]\n"
    "       wayfolio --help\n"
    "\n"
    "Gathers travel-guide pages from the web into a database, shows them as a tree of\n"
    "documents, joins the marked ones and exports them as a book.\n"
    "\n"
    "Options:\n"
    "  -I:FILE   the configuration file to use (also /I:FILE)\n"
    "  --help    shows this text and ends\n"
    "\n"
    "Qt's own options (-platform, -style, ...) are accepted as well. SIGINT and\n"
    "SIGTERM close the window as the user would. The same database without a\n"
    "window: wayfolio-cli. More in the manual page: man wayfolio.\n";

// --help anywhere among the arguments, answered before a display is needed.
bool AsksForHelp(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) return true;
    return false;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (AsksForHelp(argc, argv)) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    CmdLine::SetParams(argc, argv);
    ProjIniInit();
    int rc;
    {
        TApplication app(argc, argv);
        app.setApplicationName("Wayfolio");
        // No display name: the window system would append it to every dialog's title
        // ("Settings", "About"); message boxes show the application name all the same.
        ProjIniAutoSave = false;  // only the settings dialog writes the configuration
        // SIGINT and SIGTERM close the window as the user would; a logout ends the program.
        // The database client library takes both signals once, at its first use: it has
        // them now, before ours are put in place over its handlers for good.
        SetUpClientLibrary();
        TSignalClose signalClose;
        TForm1 form;
        ShowWithLayout(&form, {form.Splitter1, form.Splitter3});
        rc = app.exec();
        SaveLayout(&form, {form.Splitter1, form.Splitter3});
    }
    ProjIniDone();
    return rc;
}
