// Web addresses leaving the program for the desktop's browser ("Goto web", links
// clicked in a shown document).
//
// Stored addresses come from downloaded pages. Only http and https addresses are
// handed on: a "file:" or "smb:" address, or one of a custom handler, would make the
// desktop open a local file, a network share or another program on a page's say.
#pragma once

#include <string>

// The message for an address that is not handed on; it names the address (control
// bytes escaped, cut when very long).
std::string RefusedAddressMessage(const std::string& url);

// Hands a stored address to the desktop's browser, with blanks and bytes outside the
// URL character set percent-encoded (pages write addresses as they please). EProjError
// with RefusedAddressMessage when it is no http or https address, nothing opened; the
// desktop's failure goes through CheckShellExecute ("ShellExecute error: N").
void OpenWebAddress(const std::string& url);
