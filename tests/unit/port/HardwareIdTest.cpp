#include "port/DeviceDiscovery.h"

#include <gtest/gtest.h>

#include <cstdlib>

TEST(HardwareId, PrefixComparedInUpperCase)
{
    EXPECT_TRUE(hardwareIdMatches("usb\\vid_5a3e&pid_3302&rev_0100", "USB\\VID_5A3E&PID_3302"));
    EXPECT_TRUE(hardwareIdMatches("USB\\VID_5A3E&PID_3302", "USB\\VID_5A3E&PID_3302"));
    EXPECT_FALSE(hardwareIdMatches("USB\\VID_5A3E&PID_3304", "USB\\VID_5A3E&PID_3302"));
    EXPECT_FALSE(hardwareIdMatches("USB\\VID_5A3E&PID_33", "USB\\VID_5A3E&PID_3302"));
    EXPECT_FALSE(hardwareIdMatches("USB\\VID_5A3E&PID_3302", ""));
}

TEST(DeviceRoots, EnvironmentIsReadInOnePlace)
{
    ::setenv("TAVRO_SYSFS_ROOT", "/tmp/x/sys", 1);
    ::setenv("TAVRO_DEV_ROOT", "", 1);
    ::setenv("TAVRO_EXTRA_PORTS", "/run/a/ttySIM0::/run/a/lpSIM0:", 1);
    DeviceRoots roots = DeviceRoots::fromEnvironment();
    ::unsetenv("TAVRO_SYSFS_ROOT");
    ::unsetenv("TAVRO_DEV_ROOT");
    ::unsetenv("TAVRO_EXTRA_PORTS");
    EXPECT_EQ(roots.sysfs, "/tmp/x/sys");
    EXPECT_EQ(roots.dev, "/dev"); // empty means the default
    EXPECT_EQ(roots.extraPorts, (std::vector<std::string>{"/run/a/ttySIM0", "/run/a/lpSIM0"}));

    DeviceRoots plain = DeviceRoots::fromEnvironment();
    EXPECT_EQ(plain.sysfs, "/sys");
    EXPECT_TRUE(plain.extraPorts.empty());
}
