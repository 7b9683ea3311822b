// The yardstick for a branch reload's downloads: wget -r fetching the same site.
#pragma once

#include <string>

// Runs wget -r from TopUrl over the whole site, pages only (not their images), into a
// folder below Folder that is removed again. Returns the seconds it took and sets
// Files to how many pages it saved; throws std::runtime_error when wget fails.
double WgetSeconds(const std::string& topUrl, const std::string& folder, int& files);
