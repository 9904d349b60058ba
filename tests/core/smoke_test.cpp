#include <gtest/gtest.h>
#include "capture/packet_decode.h"
TEST(Smoke, Address) { EXPECT_EQ(orvanel::AddressText(0x0100007f).View(), "127.0.0.1"); }
