// The configuration file reader on arbitrary bytes: parsing never fails, the numbers
// read from it never overflow, and text written back reads back the same (so saving a
// configuration the user edited by hand loses nothing that was read from it).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <string>

#include "config/AuxProj.h"
#include "fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string section = in.ConsumeRandomLengthString(16);
    const std::string key = in.ConsumeRandomLengthString(16);
    const std::string text = in.ConsumeRemainingBytesAsString();

    TIniStore store = TIniStore::FromText(text);
    const std::string value = store.GetText(section, key, "\x01");
    (void)store.GetNumber(section, key, 5);
    (void)store.GetFlag("Download", "ReadTimeout", false);
    int number = 0;
    (void)ParseIniNumber(value, number);

    const std::string written = store.ToText();
    const TIniStore reread = TIniStore::FromText(written);
    FUZZ_CHECK(reread.ToText() == written);
    FUZZ_CHECK(reread.GetText(section, key, "\x01") == value);

    // A value put in is read back, in memory and through the text.
    TIniStore changed = reread;
    changed.PutText("Download", "Proxy.Host", value);
    FUZZ_CHECK(changed.GetText("Download", "Proxy.Host", "") == value);
    if (value.find_first_of("\r\n") == std::string::npos)
        FUZZ_CHECK(TIniStore::FromText(changed.ToText()).GetText("Download", "Proxy.Host", "") ==
                   value);
    return 0;
}
