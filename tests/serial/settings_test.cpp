// Settings, sub-objects, the line-settings record and its translation to
// termios: no device needed.
#include <termios.h>

#include <cerrno>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "serial/VaComm.h"

namespace zp {
namespace {

TEST(CommSettings, NewComponentHasTheDocumentedDefaults) {
    TVaComm c;
    EXPECT_EQ(c.Baudrate(), br1200);
    EXPECT_EQ(c.UserBaudrate(), 0);
    EXPECT_EQ(c.Databits(), db8);
    EXPECT_EQ(c.Parity(), paNone);
    EXPECT_FALSE(c.ParityCheck());
    EXPECT_EQ(c.Stopbits(), sb1);
    EXPECT_EQ(c.MonitorEvents(), (TVaCommEvents{ceError, ceRxChar, ceTxEmpty}));
    EXPECT_EQ(c.EventPriority(), tpNormal);
    EXPECT_EQ(c.WritePriority(), tpHighest);
    EXPECT_FALSE(c.DirectWrite());
    EXPECT_TRUE(c.UpdateDCB());
    EXPECT_FALSE(c.AutoOpen());
    EXPECT_EQ(c.PortNum(), 0);
    EXPECT_EQ(c.DeviceName(), "COM%d");
    EXPECT_TRUE(c.Options().Empty());
    EXPECT_EQ(c.Buffers().ReadSize(), 4096);
    EXPECT_EQ(c.Buffers().WriteSize(), 2048);
    EXPECT_EQ(c.Buffers().ReadTimeout(), 1000);
    EXPECT_EQ(c.Buffers().WriteTimeout(), 1000);
    const TVaEventChars& e = c.EventChars();
    EXPECT_EQ(e.XonChar(), 17);
    EXPECT_EQ(e.XoffChar(), 19);
    EXPECT_EQ(e.ErrorChar(), 0);
    EXPECT_EQ(e.EventChar(), 0);
    EXPECT_EQ(e.EofChar(), 0);
    const TVaFlowControl& f = c.FlowControl();
    EXPECT_FALSE(f.OutCtsFlow() || f.OutDsrFlow() || f.XonXoffOut() || f.XonXoffIn() ||
                 f.DsrSensitivity() || f.TxContinueOnXoff());
    EXPECT_EQ(f.ControlDtr(), dtrDisabled);
    EXPECT_EQ(f.ControlRts(), rtsDisabled);
    EXPECT_FALSE(c.IsOpen());
    EXPECT_EQ(c.Handle(), -1);
}

TEST(CommSettings, BaudrateAndUserBaudrateKeepTheirInvariant) {
    TVaComm c;
    c.SetUserBaudrate(57600);
    EXPECT_EQ(c.Baudrate(), brUser);
    EXPECT_EQ(c.UserBaudrate(), 57600);
    EXPECT_EQ(c.BuildDcb().BaudRate, 57600u);

    c.SetBaudrate(brUser);  // keeps the user rate
    EXPECT_EQ(c.UserBaudrate(), 57600);

    c.SetBaudrate(br9600);
    EXPECT_EQ(c.UserBaudrate(), 0);
    EXPECT_EQ(c.BuildDcb().BaudRate, 9600u);

    c.SetUserBaudrate(0);  // unchanged value: Baudrate stays
    EXPECT_EQ(c.Baudrate(), br9600);

    c.SetBaudrate(brUser);
    EXPECT_EQ(c.BuildDcb().BaudRate, 0u);
}

TEST(CommSettings, XonXoffLimitsFollowReadSize) {
    const struct {
        int32_t readSize;
        uint16_t limit;
    } cases[] = {{100, 25}, {1024, 256}, {4096, 1024}, {8192, 1024}, {1 << 20, 1024}, {3, 0}};
    for (const auto& t : cases) {
        TVaComm c;
        c.Buffers().SetReadSize(t.readSize);
        const DCB d = c.BuildDcb();
        EXPECT_EQ(d.XonLim, t.limit) << t.readSize;
        EXPECT_EQ(d.XoffLim, t.limit) << t.readSize;
    }
}

TEST(CommSettings, EventsMapToTheirPlatformBits) {
    const struct {
        TVaCommEvent event;
        uint32_t bit;
    } cases[] = {
        {ceBreak, 0x0040},  {ceCts, 0x0008},  {ceDsr, 0x0010},      {ceError, 0x0080},
        {ceRing, 0x0100},   {ceRlsd, 0x0020}, {ceRxChar, 0x0001},   {ceTxEmpty, 0x0004},
        {ceRxFlag, 0x0002}, {cePErr, 0x0200}, {ceRx80Full, 0x0400}, {ceEvent1, 0x0800},
        {ceEvent2, 0x1000},
    };
    uint32_t all = 0;
    for (const auto& t : cases) {
        EXPECT_EQ(CommEventBit(t.event), t.bit) << static_cast<int>(t.event);
        EXPECT_EQ(CommEventMask(TVaCommEvents{t.event}), t.bit);
        all |= t.bit;
    }
    EXPECT_EQ(CommEventMask(TVaCommEvents::FromBits(0x1FFF)), all);
    EXPECT_EQ(TVaCommEvents{ceRxChar}.ToBits(), 1u << 6);
}

TEST(CommSettings, CameraSettingsGiveTheDocumentedRecord) {
    TVaComm c;
    c.SetBaudrate(br9600);
    TVaBuffers b;
    b.SetReadSize(1024);
    b.SetWriteSize(1024);
    b.SetReadTimeout(500);
    b.SetWriteTimeout(500);
    c.SetBuffers(b);
    c.SetWritePriority(tpNormal);
    c.SetPortNum(1);
    c.SetUserBaudrate(9600);

    const DCB d = c.BuildDcb();
    EXPECT_EQ(d.DCBlength, sizeof(DCB));
    EXPECT_EQ(d.BaudRate, 9600u);
    EXPECT_EQ(d.Flags, 0x0001u);
    EXPECT_EQ(d.XonLim, 256);
    EXPECT_EQ(d.XoffLim, 256);
    EXPECT_EQ(d.ByteSize, 8);
    EXPECT_EQ(d.Parity, 0);
    EXPECT_EQ(d.StopBits, 0);
    EXPECT_EQ(d.XonChar, 17);
    EXPECT_EQ(d.XoffChar, 19);
    EXPECT_EQ(d.ErrorChar, 0);
    EXPECT_EQ(d.EofChar, 0);
    EXPECT_EQ(d.EvtChar, 0);
    EXPECT_EQ(d.wReserved, 0);
    EXPECT_EQ(d.wReserved1, 0);
}

TEST(CommSettings, EachSettingSetsItsFlagBit) {
    const struct {
        const char* what;
        void (*set)(TVaComm&);
        uint32_t flags;
    } cases[] = {
        {"ParityCheck", [](TVaComm& c) { c.SetParityCheck(true); }, fBinary | fParity},
        {"OutCtsFlow", [](TVaComm& c) { c.FlowControl().SetOutCtsFlow(true); },
         fBinary | fOutxCtsFlow},
        {"OutDsrFlow", [](TVaComm& c) { c.FlowControl().SetOutDsrFlow(true); },
         fBinary | fOutxDsrFlow},
        {"dtrEnabled", [](TVaComm& c) { c.FlowControl().SetControlDtr(dtrEnabled); },
         fBinary | 0x0010},
        {"dtrHandshake", [](TVaComm& c) { c.FlowControl().SetControlDtr(dtrHandshake); },
         fBinary | 0x0020},
        {"DsrSensitivity", [](TVaComm& c) { c.FlowControl().SetDsrSensitivity(true); },
         fBinary | fDsrSensitivity},
        {"TxContinueOnXoff", [](TVaComm& c) { c.FlowControl().SetTxContinueOnXoff(true); },
         fBinary | fTXContinueOnXoff},
        {"XonXoffOut", [](TVaComm& c) { c.FlowControl().SetXonXoffOut(true); }, fBinary | fOutX},
        {"XonXoffIn", [](TVaComm& c) { c.FlowControl().SetXonXoffIn(true); }, fBinary | fInX},
        {"coErrorChar", [](TVaComm& c) { c.SetOptions({coErrorChar}); }, fBinary | fErrorChar},
        {"coNullStrip", [](TVaComm& c) { c.SetOptions({coNullStrip}); }, fBinary | fNull},
        {"rtsEnabled", [](TVaComm& c) { c.FlowControl().SetControlRts(rtsEnabled); },
         fBinary | 0x1000},
        {"rtsHandshake", [](TVaComm& c) { c.FlowControl().SetControlRts(rtsHandshake); },
         fBinary | 0x2000},
        {"rtsToggle", [](TVaComm& c) { c.FlowControl().SetControlRts(rtsToggle); },
         fBinary | 0x3000},
    };
    for (const auto& t : cases) {
        TVaComm c;
        t.set(c);
        EXPECT_EQ(c.BuildDcb().Flags, t.flags) << t.what;
    }
}

TEST(CommSettings, SizeParityStopAndCharactersReachTheRecord) {
    TVaComm c;
    c.SetDatabits(db5);
    c.SetParity(paSpace);
    c.SetStopbits(sb2);
    c.EventChars().SetErrorChar(0x3F);
    c.EventChars().SetEventChar(0x0D);
    c.EventChars().SetEofChar(26);
    const DCB d = c.BuildDcb();
    EXPECT_EQ(d.ByteSize, 5);
    EXPECT_EQ(d.Parity, 4);
    EXPECT_EQ(d.StopBits, 2);
    EXPECT_EQ(d.ErrorChar, 0x3F);
    EXPECT_EQ(d.EvtChar, 0x0D);
    EXPECT_EQ(d.EofChar, 26);
}

TEST(CommSubObjects, EventCharsNotifyEveryTimeAndKeepTheirOwnValues) {
    int changes = 0;
    TVaEventChars e([&](TVaPersistent*) { ++changes; });
    e.SetEofChar(26);
    EXPECT_EQ(e.EofChar(), 26);
    EXPECT_EQ(e.EventChar(), 0);
    EXPECT_EQ(changes, 1);
    e.SetXonChar(e.XonChar());  // same value still notifies
    EXPECT_EQ(changes, 2);

    TVaEventChars other;
    other.SetXonChar(1);
    other.SetXoffChar(2);
    e.CopyFrom(other);
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(e.XonChar(), 1);
    EXPECT_EQ(e.XoffChar(), 2);
}

TEST(CommSubObjects, FlowControlNotifiesOnlyOnChangeAndOnceForACopy) {
    int changes = 0;
    TVaFlowControl f([&](TVaPersistent*) { ++changes; });
    f.SetXonXoffIn(false);
    EXPECT_EQ(changes, 0);
    f.SetXonXoffIn(true);
    EXPECT_EQ(changes, 1);

    TVaFlowControl src;
    src.SetOutCtsFlow(true);
    src.SetControlRts(rtsHandshake);
    src.SetControlDtr(dtrEnabled);
    f.CopyFrom(src);
    EXPECT_EQ(changes, 2);
    EXPECT_TRUE(f.OutCtsFlow());
    EXPECT_FALSE(f.XonXoffIn());
    EXPECT_EQ(f.ControlRts(), rtsHandshake);
    EXPECT_EQ(f.UpdateCount, 0);
}

TEST(CommSubObjects, CopyFromAnotherClassIsAnAssignmentError) {
    TVaFlowControl f;
    TVaBuffers b;
    EXPECT_THROW(f.CopyFrom(b), EConvertError);
    EXPECT_THROW(b.CopyFrom(f), EConvertError);
}

TEST(CommSubObjects, NestedUpdatesNotifyAtTheOutermostEnd) {
    int changes = 0;
    TVaBuffers b([&](TVaPersistent*) { ++changes; });
    b.BeginUpdate();
    b.BeginUpdate();
    b.SetReadSize(10);
    b.SetWriteSize(20);
    b.EndUpdate();
    EXPECT_EQ(changes, 0);
    b.EndUpdate();
    EXPECT_EQ(changes, 1);
    b.SetReadTimeout(5);  // plain value, no notification
    EXPECT_EQ(changes, 1);
}

TEST(CommTranslate, LineSettingsBecomeTermios) {
    const struct {
        const char* what;
        uint8_t size, parity, stop;
        uint32_t flags;
        uint32_t cflagSet, cflagClear, iflagSet;
    } cases[] = {
        {"8N1", 8, 0, 0, fBinary, CS8 | CREAD | CLOCAL, PARENB | CSTOPB | CRTSCTS, 0},
        {"7E1", 7, 2, 0, fBinary, CS7 | PARENB, PARODD | CMSPAR, 0},
        {"7O2", 7, 1, 2, fBinary, CS7 | PARENB | PARODD | CSTOPB, CMSPAR, 0},
        {"6M1", 6, 3, 0, fBinary, CS6 | PARENB | PARODD | CMSPAR, 0, 0},
        {"5S1", 5, 4, 0, fBinary, CS5 | PARENB | CMSPAR, PARODD, 0},
        {"parity check", 8, 2, 0, fBinary | fParity, PARENB, 0, INPCK},
        {"cts", 8, 0, 0, fBinary | fOutxCtsFlow, CRTSCTS, 0, 0},
        {"cts+rts handshake", 8, 0, 0, fBinary | fOutxCtsFlow | fRtsControlHandshake, CRTSCTS, 0,
         0},
        {"xon/xoff", 8, 0, 0, fBinary | fOutX | fInX | fTXContinueOnXoff, 0, CRTSCTS, IXON | IXOFF},
    };
    for (const auto& t : cases) {
        DCB d;
        d.BaudRate = 9600;
        d.ByteSize = t.size;
        d.Parity = t.parity;
        d.StopBits = t.stop;
        d.Flags = t.flags;
        d.XonChar = 0x11;
        d.XoffChar = 0x13;
        TTermiosPlan p;
        ASSERT_EQ(TranslateDcb(d, p), 0) << t.what;
        EXPECT_EQ(p.cflag & t.cflagSet, t.cflagSet) << t.what;
        EXPECT_EQ(p.cflag & t.cflagClear, 0u) << t.what;
        EXPECT_EQ(p.iflag, t.iflagSet) << t.what;
        EXPECT_EQ(p.lflag, 0u) << t.what;
        EXPECT_EQ(p.oflag, 0u) << t.what;
        EXPECT_EQ(p.cc[kVMIN], 1) << t.what;
        EXPECT_EQ(p.cc[kVTIME], 0) << t.what;
        EXPECT_EQ(p.cc[kVSTART], 0x11) << t.what;
        EXPECT_EQ(p.cc[kVSTOP], 0x13) << t.what;
    }
}

TEST(CommTranslate, RatesUseStandardCodesOrBother) {
    const struct {
        uint32_t rate;
        uint32_t code;
    } cases[] = {{9600, B9600},
                 {115200, B115200},
                 {110, B110},
                 {56000, kBOTHER | (kBOTHER << kIBSHIFT)},
                 {256000, kBOTHER | (kBOTHER << kIBSHIFT)}};
    for (const auto& t : cases) {
        DCB d;
        d.BaudRate = t.rate;
        d.ByteSize = 8;
        d.Flags = fBinary;
        TTermiosPlan p;
        ASSERT_EQ(TranslateDcb(d, p), 0) << t.rate;
        EXPECT_EQ(p.cflag & (CBAUD | (CBAUD << kIBSHIFT)), t.code) << t.rate;
        EXPECT_EQ(p.ospeed, t.rate);
        EXPECT_EQ(p.ispeed, t.rate);
    }
}

TEST(CommTranslate, ModemLinesFollowTheControlModes) {
    const struct {
        uint32_t flags;
        int dtr, rts;
        bool rs485;
    } cases[] = {
        {fBinary, 0, 0, false},
        {fBinary | fDtrControlEnable | fRtsControlEnable, 1, 1, false},
        {fBinary | fOutxCtsFlow | fRtsControlHandshake, 0, -1, false},
        {fBinary | fRtsControlToggle, 0, -1, true},
    };
    for (const auto& t : cases) {
        DCB d;
        d.BaudRate = 9600;
        d.ByteSize = 8;
        d.Flags = t.flags;
        TTermiosPlan p;
        ASSERT_EQ(TranslateDcb(d, p), 0) << t.flags;
        EXPECT_EQ(p.dtr, t.dtr) << t.flags;
        EXPECT_EQ(p.rts, t.rts) << t.flags;
        EXPECT_EQ(p.rs485, t.rs485) << t.flags;
    }
}

TEST(CommTranslate, WhatLinuxCannotExpressIsRefused) {
    const struct {
        const char* what;
        uint32_t rate;
        uint8_t size, parity, stop;
        uint32_t flags;
    } cases[] = {
        {"4 data bits", 9600, 4, 0, 0, fBinary},
        {"9 data bits", 9600, 9, 0, 0, fBinary},
        {"1.5 stop bits", 9600, 8, 0, 1, fBinary},
        {"parity 5", 9600, 8, 5, 0, fBinary},
        {"rate 0", 0, 8, 0, 0, fBinary},
        {"DSR flow", 9600, 8, 0, 0, fBinary | fOutxDsrFlow},
        {"DSR sensitivity", 9600, 8, 0, 0, fBinary | fDsrSensitivity},
        {"DTR handshake", 9600, 8, 0, 0, fBinary | fDtrControlHandshake},
        {"error char", 9600, 8, 0, 0, fBinary | fErrorChar},
        {"RTS handshake alone", 9600, 8, 0, 0, fBinary | fRtsControlHandshake},
        {"output held after XOFF", 9600, 8, 0, 0, fBinary | fInX},
    };
    for (const auto& t : cases) {
        DCB d;
        d.BaudRate = t.rate;
        d.ByteSize = t.size;
        d.Parity = t.parity;
        d.StopBits = t.stop;
        d.Flags = t.flags;
        TTermiosPlan p;
        EXPECT_EQ(TranslateDcb(d, p), EINVAL) << t.what;
    }
}

TEST(CommNames, DeviceNamesFormatAndMapToPaths) {
    const struct {
        const char* deviceName;
        int32_t port;
        const char* text;
        const char* path;
    } cases[] = {
        {"COM%d", 1, "COM1", "/dev/ttyS0"},
        {"COM%d", 3, "COM3", "/dev/ttyS2"},
        {"COM%d", 0, "COM0", "/dev/ttyS-1"},
        {"/dev/ttyUSB%d", 0, "/dev/ttyUSB0", "/dev/ttyUSB0"},
        {"/dev/pts/7", 4, "/dev/pts/7", "/dev/pts/7"},
        {"ttyACM%d", 2, "ttyACM2", "/dev/ttyACM2"},
        {"odd%s%%", 5, "odd5%", "/dev/odd5%"},
        {"COMX", 1, "COMX", "/dev/COMX"},
    };
    for (const auto& t : cases) {
        TVaComm c;
        c.SetDeviceName(t.deviceName);
        c.SetPortNum(t.port);
        EXPECT_EQ(c.DeviceText(), t.text);
        EXPECT_EQ(DevicePath(c.DeviceText()), t.path);
    }
}

TEST(CommNames, MessagesFillOnlyTheirPlaceholders) {
    const struct {
        const char* format;
        std::vector<TFormatArg> args;
        const char* text;
    } cases[] = {
        {"Error writing dcb (%d), %s",
         {22, "Invalid argument"},
         "Error writing dcb (22), Invalid argument"},
        {"Output buffer is full. Please check comm status.",
         {5, "x"},
         "Output buffer is full. Please check comm status."},
        {"Unable to open specified device %s (%d), %s",
         {"COM1", 2, "No such file or directory"},
         "Unable to open specified device COM1 (2), No such file or directory"},
        {"only %d and %s and %d", {7}, "only 7 and %s and %d"},
        {"100%% %x", {1}, "100% %x"},
        {"trailing %", {}, "trailing %"},
    };
    for (const auto& t : cases) {
        EXPECT_EQ(FormatText(t.format, t.args), t.text);
    }
    EXPECT_EQ(ErrorText(EINVAL), "Invalid argument");
}

}  // namespace
}  // namespace zp
