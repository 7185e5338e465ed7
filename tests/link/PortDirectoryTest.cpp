#include "link/PortDirectory.h"
#include "engine/RuntimeError.h"
#include "link/QtSerialPort.h"

#include <gtest/gtest.h>

namespace {
PortInfo usb(const QString& name, const QString& serial, quint16 vid, quint16 pid) {
    PortInfo p = PortInfo::forPath("/dev/" + name);
    p.description = "KitProg3", p.manufacturer = "Cypress", p.serialNumber = serial;
    p.vendorId = vid, p.productId = pid;
    return p;
}
} // namespace

TEST(PortDirectory, ListsNamedPortsThenUsbSerialPortsInNaturalOrderAndOthersOnlyWhenAsked) {
    const QList<PortInfo> system = {
        PortInfo::forPath("/dev/ttyS0"), usb("ttyUSB10", "A5", 0x0403, 0x6001),
        PortInfo::forPath("/dev/ttyACM10"), usb("ttyACM2", "0F1A", 0x04b4, 0xf155),
        PortInfo::forPath("/dev/ttyS1")};
    const struct {
        QString zbpuPorts;
        bool every;
        QStringList paths;
    } cases[] = {
        {"", false, {"/dev/ttyACM2", "/dev/ttyACM10", "/dev/ttyUSB10"}},
        {"/tmp/board:/dev/ttyS1",
         false,
         {"/tmp/board", "/dev/ttyS1", "/dev/ttyACM2", "/dev/ttyACM10", "/dev/ttyUSB10"}},
        {"", true, {"/dev/ttyACM2", "/dev/ttyACM10", "/dev/ttyS0", "/dev/ttyS1", "/dev/ttyUSB10"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PortDirectory::build(system, c.zbpuPorts, c.every).paths(), c.paths)
            << c.zbpuPorts.toStdString();

    const PortDirectory d = PortDirectory::build(system, "/tmp/board", false);
    EXPECT_EQ(d.info(2).label(), "ttyACM2 (KitProg3, Cypress, serial 0F1A, 04b4:f155)");
    EXPECT_EQ(d.info(3).label(), "ttyACM10");
#ifndef Q_OS_WIN
    EXPECT_EQ(PortDirectory(QStringList{"/dev/pts/3"}).name(1), "/dev/pts/3");
    // A port is found by its path, system name or USB serial number.
    for (const QString key : {"/dev/ttyUSB10", "ttyUSB10", "A5"})
        EXPECT_EQ(d.find(key), 4) << key.toStdString();
#endif

    // A board plugged in later comes last: the numbers given keep their ports.
    PortDirectory later = d;
    later.takeInNew(system + QList<PortInfo>{usb("ttyACM1", "77", 0x04b4, 0xf155)});
    EXPECT_EQ(later.paths(), d.paths() + QStringList{"/dev/ttyACM1"});
}

TEST(PortDirectory, APortThatWillNotOpenIsReportedByNameWithItsCause) {
    const QString denied = "Permission denied on /dev/ttyACM0: add yourself to the dialout group "
                           "(sudo usermod -aG dialout $USER, then log in again)";
    const struct {
        bool exists, accessible, permissionError;
        int number;
        QString text;
        QString rule = "dist/60-zbpu.rules";
    } cases[] = {
        {false, false, false, RuntimeError::DeviceUnavailable,
         "ttyACM0 is gone: /dev/ttyACM0 does not exist (unplugged, or another path?)"},
        {true, false, true, RuntimeError::PermissionDenied,
         denied + " or install dist/60-zbpu.rules in /etc/udev/rules.d"},
        // Installed under a prefix udev does not read, and from the package, where it does.
        {true, false, true, RuntimeError::PermissionDenied,
         denied + " or install /opt/z/lib/udev/rules.d/60-zbpu.rules in /etc/udev/rules.d",
         "/opt/z/lib/udev/rules.d/60-zbpu.rules"},
        {true, false, true, RuntimeError::PermissionDenied,
         denied + "; the udev rule /usr/lib/udev/rules.d/60-zbpu.rules gives that group the "
                  "board's port",
         "/usr/lib/udev/rules.d/60-zbpu.rules"},
        {true, true, true, RuntimeError::PortInUse, "ttyACM0 is busy: another program has it open"},
        {true, true, false, RuntimeError::DeviceIoError,
         "Port Open Failed: /dev/ttyACM0: Unknown error"},
    };
    for (const auto& c : cases) {
        const RuntimeError e = portOpenFailure({"/dev/ttyACM0", "ttyACM0", "Unknown error",
                                                c.exists, c.accessible, c.permissionError, c.rule});
        EXPECT_EQ(e.number(), c.number);
        EXPECT_EQ(e.description(), c.text);
    }
}
