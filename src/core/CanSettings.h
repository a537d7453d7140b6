#pragma once
#include <cstdint>

// The two settings of one CAN channel, stored as "CanRate" and "CanMode".
struct TCanSettings {
    int32_t Rate = 0;      // bit rate in bit/s
    bool Extended = false; // identifier mode: false "Standard", true "Extended"
};
