#include "sim/SimOptions.h"

unsigned SimOptions::printerProductId(int family)
{
    switch (family) {
    case 3:
    case 4:
        return 0x3004;
    case 5:
        return 0x3302;
    case 6:
        return 0x3312;
    default:
        return 0x0101;
    }
}

unsigned SimOptions::virtualSerialProductId(int family)
{
    switch (family) {
    case 4:
        return 0x3003;
    case 6:
        return 0x3311;
    default:
        return 0x3301;
    }
}
