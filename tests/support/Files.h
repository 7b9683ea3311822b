// Whole files for tests that check what was written.
#pragma once

#include <string>

// A whole file's bytes; empty when it cannot be read.
std::string ReadWholeFile(const std::string& name);
