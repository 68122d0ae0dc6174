#include "providers/pst/format/ltp_value.h"

namespace mapi::pst::fmt {

size_t FixedWidth(uint16_t type) {
    switch (type) {
        case 0x0002: return 2;   // PtypInteger16
        case 0x0003: return 4;   // PtypInteger32
        case 0x0004: return 4;   // PtypFloating32
        case 0x000A: return 4;   // PtypErrorCode
        case 0x000B: return 1;   // PtypBoolean
        case 0x0005:             // PtypFloating64
        case 0x0006:             // PtypCurrency
        case 0x0007:             // PtypFloatingTime
        case 0x0014:             // PtypInteger64
        case 0x0040: return 8;   // PtypTime
        default: return 0;
    }
}

}  // namespace mapi::pst::fmt
