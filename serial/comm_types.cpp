#include "serial/comm_types.h"

namespace zp {

uint32_t CommEventBit(TVaCommEvent e) {
    static constexpr uint32_t kBits[] = {
        EV_BREAK,   EV_CTS,    EV_DSR,  EV_ERR,      EV_RING,   EV_RLSD,   EV_RXCHAR,
        EV_TXEMPTY, EV_RXFLAG, EV_PERR, EV_RX80FULL, EV_EVENT1, EV_EVENT2,
    };
    const auto i = static_cast<unsigned>(e);
    return i < sizeof kBits / sizeof kBits[0] ? kBits[i] : 0;
}

uint32_t CommEventMask(TVaCommEvents events) {
    uint32_t mask = 0;
    for (int i = ceBreak; i <= ceEvent2; ++i) {
        if (events.Has(static_cast<TVaCommEvent>(i))) {
            mask |= CommEventBit(static_cast<TVaCommEvent>(i));
        }
    }
    return mask;
}

uint32_t BaudrateValue(TVaBaudrate b) {
    static constexpr uint32_t kRates[] = {0,     110,    300,    600,   1200,  2400,
                                          4800,  9600,   14400,  19200, 38400, 56000,
                                          57600, 115200, 128000, 256000};
    const auto i = static_cast<unsigned>(b);
    return i < sizeof kRates / sizeof kRates[0] ? kRates[i] : 0;
}

}  // namespace zp
