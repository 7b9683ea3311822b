// The page the view shows while the database holds no guides: what the program does,
// how a guide is added, an example address for each guide type a shipped reader
// serves, and where the user's own reader files go.
#pragma once

#include <string>
#include <vector>

struct TWelcomeReader {
    std::string GuideType;
    std::string Description;
    std::string Example;  // an address the reader reads; empty when there is none to give
};

struct TWelcomeFolders {
    std::string User;        // the user's reader files
    std::string Configured;  // the folder the configuration names; empty when none
    std::string Shipped;     // the files that come with the program
};

// An address that shows what the reader of a guide type reads, for the readers that
// come with the program; empty for any other guide type.
std::string ExampleAddress(const std::string& guideType);

// The welcome page as a complete UTF-8 HTML document. Every value is escaped, so a
// description or a folder name never becomes markup.
std::string WelcomePage(const std::vector<TWelcomeReader>& readers, const TWelcomeFolders& folders);
