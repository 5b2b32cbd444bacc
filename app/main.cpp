// Until the window exists: shows, on the terminal, the query each page sends
// and the status-bar echo, through the real link core.

#include <cstdio>
#include <string>

#include "camera_link.h"
#include "func.h"

namespace {

class PrintingPort : public zp::ILinkPort {
  public:
    bool IsOpen() override { return true; }
    void Open() override {}
    void Close() override {}
    void SetPortNum(int32_t) override {}
    void SetUserBaudrate(int32_t) override {}
    int32_t TransmitData(const void* data, int32_t count) override {
        const auto* p = static_cast<const uint8_t*>(data);
        std::string line;
        for (int32_t i = 0; i < count; ++i) {
            line += zp::ByteToHex(p[i]) + " ";
        }
        std::printf("  line:   %s\n", line.c_str());
        return count;
    }
    bool TransmitByte(uint8_t b) override { return TransmitData(&b, 1) == 1; }
    std::string ReceivePending() override { return {}; }
};

class PrintingWindow : public zp::ILinkWindow {
  public:
    void SetStatusText(int panel, const std::string& text) override {
        std::printf("  panel %d: %s\n", panel, text.c_str());
    }
    void ShowHourglass() override {}
    void RestoreCursor() override {}
    void EnablePageControl() override {}
    void QueryActivePage() override {}
    void RouteReplyToPage() override {}
    void StartReplyTimer(int) override {}
};

}  // namespace

int main() {
    struct Page {
        const char* caption;
        uint8_t group;
        uint8_t item;
    };
    const Page pages[] = {{"C.ID", 0x10, 0x01}, {"Len", 0x21, 0}, {"AGC", 0x1A, 0},
                          {"ALC", 0x48, 0},     {"BLC", 0x18, 0}, {"Col", 0x1B, 0},
                          {"Ape", 0x47, 0},     {"Mot", 0x23, 0}, {"Pos", 0x52, 0},
                          {"Oth", 0x54, 0}};
    PrintingPort port;
    PrintingWindow window;
    zp::TCameraLink link(port, window, [](int) {});
    std::printf("zoompanel link core: the query of each page\n");
    for (const Page& p : pages) {
        std::printf("%s\n", p.caption);
        auto& f = link.Vars().CommandFrame;
        f[1] = zp::kQuery;
        f[2] = p.group;
        f[3] = p.item;
        f[4] = 0;
        link.SendFrame(4);
        link.Vars().SendBusy = false;
    }
    return 0;
}
