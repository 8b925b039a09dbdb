#pragma once
// Helpers of the desktop tool's GUI tests: a fake USB device tree in the kernel's layout,
// a fake /etc that names the system language, and finding a dialog's controls by id.
#include "TempDir.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <filesystem>
#include <functional>
#include <string>

// A sysfs root and a device root with USB printers and USB virtual serial ports.
class FakeUsbTree {
public:
    std::filesystem::path sysfs() const { return m_dir.path() / "sys"; }
    std::filesystem::path dev() const { return m_dir.path() / "dev"; }

    FakeUsbTree()
    {
        std::filesystem::create_directories(sysfs() / "class" / "usbmisc");
        std::filesystem::create_directories(sysfs() / "class" / "tty");
        std::filesystem::create_directories(dev() / "usb");
    }

    // lp<n> with vendor 5A3E and the product id ("3302"); the node is a plain file unless
    // nodeTarget names what it should point to.
    void addPrinter(int n, const std::string& productId, const std::string& nodeTarget = "")
    {
        std::string name = "lp" + std::to_string(n);
        auto device = addUsbDevice("1-" + std::to_string(n + 1), productId);
        auto entry = sysfs() / "class" / "usbmisc" / name;
        std::filesystem::create_directories(entry);
        writeFileBytes(entry / "uevent", "MAJOR=180\nMINOR=" + std::to_string(n) + "\nDEVNAME=usb/" + name + "\n");
        std::filesystem::create_directory_symlink(device, entry / "device");
        makeNode(dev() / "usb" / name, nodeTarget);
    }

    // ttyACM<n> with vendor 5A3E and the product id ("3301").
    void addVirtualSerial(int n, const std::string& productId, const std::string& nodeTarget = "")
    {
        std::string name = "ttyACM" + std::to_string(n);
        auto device = addUsbDevice("2-" + std::to_string(n + 1), productId);
        auto entry = sysfs() / "class" / "tty" / name;
        std::filesystem::create_directories(entry);
        writeFileBytes(entry / "uevent", "MAJOR=166\nMINOR=" + std::to_string(n) + "\nDEVNAME=" + name + "\n");
        std::filesystem::create_directory_symlink(device, entry / "device");
        makeNode(dev() / name, nodeTarget);
    }

    std::filesystem::path root() const { return m_dir.path(); }

private:
    std::filesystem::path addUsbDevice(const std::string& port, const std::string& productId)
    {
        auto device = sysfs() / "devices" / "usb1" / port;
        auto interface = device / (port + ":1.0");
        std::filesystem::create_directories(interface);
        writeFileBytes(device / "idVendor", "5a3e\n");
        writeFileBytes(device / "idProduct", productId + "\n");
        return interface;
    }
    static void makeNode(const std::filesystem::path& node, const std::string& target)
    {
        if (target.empty())
            writeFileBytes(node, "");
        else
            std::filesystem::create_symlink(target, node);
    }

    TempDir m_dir;
};

// An /etc whose locale.conf names the language ("ko_KR.UTF-8", "en_US.UTF-8").
class FakeEtc {
public:
    explicit FakeEtc(const std::string& lang) { writeFileBytes(m_dir / "locale.conf", "LANG=" + lang + "\n"); }
    std::filesystem::path path() const { return m_dir.path(); }

private:
    TempDir m_dir;
};

// The control with object name "ctl<id>" below the widget.
template <class W = QWidget>
W* ctl(QWidget* dialog, int id)
{
    return dialog->findChild<W*>(QString("ctl%1").arg(id));
}

// Runs action once the next modal dialog is up (polled every 20 ms, for at most 20 s);
// the action gets the active modal widget. Used to answer a dialog that exec() blocks on.
inline void whenModal(std::function<void(QWidget*)> action, QWidget* notThis = nullptr)
{
    auto* timer = new QTimer;
    auto started = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, action, notThis, started] {
        QWidget* modal = QApplication::activeModalWidget();
        if ((modal && modal != notThis) || ++*started > 1000) {
            timer->stop();
            timer->deleteLater();
            if (modal && modal != notThis)
                action(modal);
        }
    });
    timer->start(20);
}
