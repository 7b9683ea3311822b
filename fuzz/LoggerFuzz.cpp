// The logger's text formatter on arbitrary calls: any flags, line length, names,
// channels and text. It must never fail, and in hexadecimal mode every byte of the
// text must reach the output as two hex digits.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "logging/Connect.h"

namespace {

class TStringStream : public TLogStream {
public:
    void SeekEnd() override {}
    void Write(const std::string& bytes) override { Text += bytes; }
    std::string Text;
};

class TMemoryLogger : public TStreamLogger {
public:
    TMemoryLogger() { SetStream(&stream); }
    ~TMemoryLogger() override { CloseOnDestroy(); }
    TStringStream stream;

protected:
    void DoOpen() override { SetStream(&stream); }
    void DoClose() override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    TMemoryLogger logger;
    // Date stamps depend on the clock; leave them out so a crash can be replayed.
    logger.SetLogFlags(TLogFormatFlags::FromByte(in.ConsumeIntegral<uint8_t>()).Without(lfStamp));
    logger.SetMaxLineLength(in.ConsumeIntegralInRange(-2, 40));
    const bool divide = in.ConsumeBool();
    const int cutAt = in.ConsumeIntegralInRange(0, 8);
    logger.SetOnDivideStream(
        [&](QObject*, const std::string&, unsigned char, std::string& text, int& I, bool& d) {
            d = divide;
            if (I == cutAt) text.resize(text.size() / 2);
        });
    logger.Open();
    while (in.remaining_bytes() > 0) {
        const std::string name = in.ConsumeRandomLengthString(8);
        const unsigned char channel = in.ConsumeIntegral<uint8_t>();
        const std::string text = in.ConsumeRandomLengthString(200);
        const size_t before = logger.stream.Text.size();
        logger.WriteLog(name, channel, text);
        if (logger.LogFlags().Contains(lfHexadecimal) &&
            !logger.LogFlags().Contains(lfDivideStream))
            FUZZ_CHECK(logger.stream.Text.size() - before >= 3 * text.size());
        FUZZ_CHECK(logger.Column() >= 0);
    }
    logger.Close();
    return 0;
}
