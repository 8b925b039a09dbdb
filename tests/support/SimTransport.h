#pragma once
// How a test reaches tavro-sim over one connection kind with tavroctl: the simulator's
// options, tavroctl's connection options for the running simulator, and the environment that
// lets tavroctl find a USB printer in the simulator's sysfs tree.
#include "SimProcess.h"
#include "TavroctlRun.h"

#include <functional>
#include <string>
#include <vector>

struct SimTransport {
    std::vector<std::string> simArgs;
    std::function<std::string(const SimProcess&)> conn;
    bool needsEnv = false;

    // "TAVRO_SYSFS_ROOT=… TAVRO_DEV_ROOT=…" for a USB connection, else "".
    std::string env(const SimProcess& sim) const
    {
        return needsEnv ? "TAVRO_SYSFS_ROOT=" + shellQuote(sim.env("TAVRO_SYSFS_ROOT")) +
                              " TAVRO_DEV_ROOT=" + shellQuote(sim.env("TAVRO_DEV_ROOT"))
                        : "";
    }
};

// A TAVRO46/48 over "serial", "parallel", "usb" (its node away for usbRestartMs after a
// restart), "usbserial", or anything else: TCP on loopback.
inline SimTransport simTransport(const std::string& name, int usbRestartMs)
{
    if (name == "serial")
        return {{"--serial"}, [](const SimProcess& s) { return "--device 'TAVRO46/48 S' --port " + shellQuote(s.serialPort()); }};
    if (name == "parallel")
        return {{"--parallel"},
                [](const SimProcess& s) { return "--device 'TAVRO46/48 P' --port " + shellQuote(s.parallelPort()); }};
    if (name == "usb")
        return {{"--usb", "--restart-ms", std::to_string(usbRestartMs)},
                [](const SimProcess&) { return std::string("--device 'TAVRO46/48 U-II' --port usb"); }, true};
    if (name == "usbserial")
        return {{"--usb-serial"}, [](const SimProcess&) { return std::string("--device 'TAVRO46/48 U-I'"); }, true};
    return {{"--tcp", "127.0.0.1:0"}, [](const SimProcess& s) {
                return "--device 'TAVRO46/48 E-II' --port tcp://" + s.tcpHost() + ":" + std::to_string(s.tcpPort());
            }};
}
