// Program start: configuration first, then the main window and the event loop.
#include <QApplication>
#include <QMessageBox>
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

}  // namespace

int main(int argc, char* argv[]) {
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
