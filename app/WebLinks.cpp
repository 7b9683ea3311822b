#include "app/WebLinks.h"

#include <QString>

#include "config/AuxProj.h"
#include "dialogs/DialogUtil.h"
#include "text/SafeText.h"
#include "text/UrlBytes.h"

std::string RefusedAddressMessage(const std::string& url) {
    return "\"" + SafeLogText(url, 500) +
           "\" is no web address. Only http and https addresses are opened; this one was not.";
}

void OpenWebAddress(const std::string& url) {
    if (!IsWebAddress(url)) throw EProjError(RefusedAddressMessage(url));
    // Encoded, the address is plain ASCII.
    CheckShellExecute(ShellOpen(QString::fromLatin1(EncodeUrlBytes(url))));
}
