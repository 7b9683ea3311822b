// Stored text is raw bytes; Qt's widgets take QString. This is the one place where
// the two meet. A library of its own beside wf_text, so that only what uses Qt links it.
#pragma once

#include <QString>
#include <string>

// Bytes that are valid UTF-8 decode as UTF-8 (a leading BOM is kept), any others as
// Latin-1, so every byte shows as some character and nothing is dropped.
QString BytesToQString(const std::string& bytes);
