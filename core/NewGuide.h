// Creating a guide: a top-level document with the address of its first page and the
// guide type whose reader reads it, placed after the guides already there. It is the
// one document the program creates without a page linking to it; the window's "New
// guide..." and wayfolio-cli's "add" both create guides here, in the tables as they
// stand (a NODE row and a link under the root 0), and nothing else is written.
#pragma once

#include <string>
#include <string_view>

class TDatabase;
class TReloadHost;

// The longest guide type a download carries; a longer one could never be read.
inline constexpr std::size_t MaxGuideTypeBytes = 20;

// Why a guide with this address and guide type cannot be created, as one sentence
// for the user; empty when it can. Refused: an address that is not http or https
// (or too long for its column), a guide type that is empty, longer than 20
// characters or served by no page reader (compiled or file).
std::string NewGuideProblem(std::string_view url, std::string_view guideType);

struct TNewGuide {
    int NodeId = 0;
    // True when a document with the address's identifier and this guide type was
    // there already: nothing was written, and NodeId is that document.
    bool Existed = false;
    std::string Title;  // the title stored (or the existing document's)
};

// Creates the guide on the connection's default transaction, committing each write
// at once, and returns it. The address is stored trimmed; its identifier (ORIG_ID) is
// the one the guide type's reader gives the page, so that a link back to the first
// page finds the guide. An empty title is the page's own: when host is given the page
// is fetched and read by its reader (lines to host on channel 1; StopFlag abandons
// the transfer), and the address stands in when the page gives none or does not
// arrive. Throws EProjError with NewGuideProblem's sentence when refused, before
// anything is fetched or written; database errors propagate.
TNewGuide CreateGuide(TDatabase& db, const std::string& url, const std::string& guideType,
                      const std::string& title, TReloadHost* host = nullptr);
