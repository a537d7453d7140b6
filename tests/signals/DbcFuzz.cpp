// libFuzzer target: any bytes as a DBC file, then every message decoded from
// bytes of the same input. Built by scripts/fuzz-dbc.sh (clang, TCM_FUZZ=ON).
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "signals/DbcDecoder.h"
#include "signals/DbcReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const TDbcDatabase db = ReadDbcText(std::string_view(reinterpret_cast<const char*>(data), size));
    const std::string report = DbcProblemReport(db, "fuzz.dbc", 5);
    uint8_t frame[8] = {};
    for (size_t i = 0; i < 8 && i < size; ++i)
        frame[i] = data[size - 1 - i];
    std::vector<TDbcDecoded> decoded;
    for (const auto& message : db.Messages) {
        for (int length = 0; length <= 8; length += 4) {
            decoded.clear();
            DecodeDbcFrame(message, frame, length, decoded);
            for (const auto& d : decoded)
                if (FormatDbcSignal(d).empty())
                    __builtin_trap();
        }
        if (db.Find(message.Id, message.Extended) == nullptr)
            __builtin_trap(); // every message read can be found again
    }
    return report.size() > 1000000 ? 1 : 0;
}
