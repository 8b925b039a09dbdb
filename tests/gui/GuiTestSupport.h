#pragma once
// Helpers of the desktop tool's GUI tests: a fake USB device tree in the kernel's layout,
// a fake /etc that names the system language, and finding a dialog's controls by id.
#include "FakeSysfs.h"
#include "TempDir.h"
#include "qthost/QtControlName.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

// The shared fake sysfs tree with TAVRO USB devices whose nodes are plain files (they
// open for writing as a test, as CountUsbPrinters does).
class FakeUsbTree {
public:
    FakeUsbTree() : m_tree(m_dir.path()) {}
    std::filesystem::path sysfs() const { return m_tree.sysfsRoot(); }
    std::filesystem::path dev() const { return m_tree.devRoot(); }

    // lp<n>, vendor 5A3E, the product id in hex ("3302").
    void addPrinter(int n, const std::string& productId)
    {
        std::string name = "lp" + std::to_string(n);
        m_tree.addUsbPrinter(name, 0x5A3E, hex(productId), 0x0100, nodeFile(name));
    }
    // ttyACM<n>, vendor 5A3E, the product id in hex ("3301").
    void addVirtualSerial(int n, const std::string& productId)
    {
        std::string name = "ttyACM" + std::to_string(n);
        m_tree.addUsbSerial(name, 0x5A3E, hex(productId), nodeFile(name));
    }

private:
    static std::uint16_t hex(const std::string& text) { return static_cast<std::uint16_t>(std::stoul(text, nullptr, 16)); }
    std::string nodeFile(const std::string& name)
    {
        auto file = m_dir.path() / ("node-" + name);
        writeFileBytes(file, "");
        return file.string();
    }

    TempDir m_dir;
    FakeSysfs m_tree;
};

// An /etc whose locale.conf names the language ("ko_KR.UTF-8", "en_US.UTF-8").
class FakeEtc {
public:
    explicit FakeEtc(const std::string& lang) { writeFileBytes(m_dir / "locale.conf", "LANG=" + lang + "\n"); }
    std::filesystem::path path() const { return m_dir.path(); }

private:
    TempDir m_dir;
};

// The control id (from the dialog's controls header) below the widget.
template <class W = QWidget>
W* ctl(QWidget* dialog, int id)
{
    return findControl<W>(dialog, id);
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

// The longest pause of the GUI thread's event loop while it lives: a 10 ms timer on the GUI
// thread and the longest time between two of its ticks. A window that freezes shows here.
class LoopGapMeter {
public:
    LoopGapMeter()
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const auto now = std::chrono::steady_clock::now();
            if (m_ticks++ > 0)
                m_longest = std::max(m_longest, now - m_last);
            m_last = now;
        });
        m_timer.start();
    }
    // The stretch since the last tick counts too: a loop that froze until now shows.
    std::chrono::milliseconds longest() const
    {
        auto longest = m_longest;
        if (m_ticks > 0)
            longest = std::max(longest, std::chrono::steady_clock::now() - m_last);
        return std::chrono::duration_cast<std::chrono::milliseconds>(longest);
    }
    int ticks() const { return m_ticks; }

private:
    QTimer m_timer;
    std::chrono::steady_clock::time_point m_last{};
    std::chrono::steady_clock::duration m_longest{};
    int m_ticks = 0;
};
