// Template composition on arbitrary templates and column values: markers in any state
// of repair never make it read outside the template, and a concatenation composed in
// one pass equals its frame composed around the pieces joined one by one.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/Compose.h"
#include "fuzz/FuzzCheck.h"

namespace {

TMemoryRow ConsumeRow(FuzzedDataProvider& in) {
    TMemoryRow row;
    const int columns = in.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < columns; ++i) {
        TMemoryRow::TColumn c;
        c.Name = in.ConsumeRandomLengthString(12);
        c.Null = in.ConsumeBool();
        c.Value = in.ConsumeRandomLengthString(64);
        row.Columns.push_back(std::move(c));
    }
    return row;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const int dialect = in.ConsumeBool() ? 1 : 3;
    const TMemoryRow frameRow = ConsumeRow(in);
    std::vector<TPiece> pieces(in.ConsumeIntegralInRange(0, 3));
    for (TPiece& p : pieces) {
        p.Row = ConsumeRow(in);
        p.Template = in.ConsumeRandomLengthString(256);
    }
    const std::string body = in.ConsumeRandomLengthString(128);
    const std::string frame = in.ConsumeRemainingBytesAsString();

    std::string plain = "prefix";
    ComposeTemplate(plain, frame, nullptr, frameRow, dialect);
    FUZZ_CHECK(plain.compare(0, 6, "prefix") == 0);
    std::string withBody;
    ComposeTemplate(withBody, frame, &body, frameRow, dialect);

    std::string joined;
    for (const TPiece& p : pieces) ComposeTemplate(joined, p.Template, nullptr, p.Row, dialect);
    std::string expected;
    ComposeTemplate(expected, frame, &joined, frameRow, dialect);
    std::string concatenated;
    ComposeConcatenation(concatenated, frame, frameRow, pieces, dialect);
    FUZZ_CHECK(concatenated == expected);
    return 0;
}
