// Describes and decodes any bytes as a command, a reply and a malformed frame,
// and checks that every value decoded from a reply reads back from its own
// text: a traffic view and a backup file must never crash on what the line
// brings, nor write a value they cannot read again.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "link/catalogue.h"

namespace {

void Check(bool ok, const char* what, const std::string& detail) {
    if (!ok) {
        std::fprintf(stderr, "catalogue invariant broken: %s (%s)\n", what, detail.c_str());
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Check(!zp::DescribeCommand(data, size).empty(), "empty command text", "");
    Check(!zp::DescribeReply(data, size).empty(), "empty reply text", "");
    Check(!zp::DescribeMalformed(data, size).empty(), "empty malformed text", "");
    for (uint8_t kind : {zp::kQuery, zp::kSet}) {
        for (const zp::TDecoded& d : zp::DecodeReply(data, size, kind)) {
            const zp::TSetting& s = *d.Setting;
            // A title part holds what the camera sent, spaces for unknown codes.
            if (s.Kind == zp::TSettingKind::Text) {
                continue;
            }
            const std::string text = zp::ValueText(s, d.Value);
            zp::TValue back;
            std::string error;
            const bool ok = zp::ParseValue(s, text, back, error);
            // Numbers and steps come as the reply holds them, possibly beyond
            // what a set command may carry; choices are clamped to their items.
            // The load's "OFF" is shown but never sent.
            const bool settable = s.Kind == zp::TSettingKind::Area ||
                                  (d.Value.Number >= s.Min && d.Value.Number <= s.Max);
            if (settable) {
                Check(ok, "a decoded value does not read back", std::string(s.Id) + " " + text);
                Check(zp::ValueText(s, back) == text, "a value text changes on reading",
                      std::string(s.Id) + " " + text);
            }
        }
    }
    return 0;
}
