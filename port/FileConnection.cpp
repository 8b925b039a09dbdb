#include "port/FileConnection.h"

#include "app/CErrorLog.h"
#include "app/Prompter.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

FileConnection::FileConnection(const ConnectionSettings& settings, ConnectionHost host)
    : m_settings(settings), m_host(host), m_name(settings.kind() == PortKind::PrintToFile ? "" : settings.portName)
{
}

std::string FileConnection::describe() const
{
    if (!m_name.empty())
        return "file " + m_name;
    if (!m_settings.outputFile.empty())
        return "file " + m_settings.outputFile;
    return "file";
}

IoResult FileConnection::open()
{
    close();
    // A reopen keeps the file chosen at the first open; it is not asked for again.
    if (m_settings.kind() == PortKind::PrintToFile && m_name.empty()) {
        if (!m_settings.outputFile.empty()) {
            m_name = m_settings.outputFile;
        } else {
            auto asked = m_host.prompter.askOutputFileName();
            m_name = asked && !asked->empty() ? *asked : "temp.prn";
        }
    }
    if (m_name.empty()) {
        m_host.log.WriteLog("CPorts::Open() Invalid Handle\r\n");
        return IoResult::failed("cannot open the printer: no port was named", EINVAL);
    }
    m_fd.reset(::open(m_name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!m_fd) {
        int error = errno;
        return IoResult::failed("cannot create " + describe() + ": " + std::strerror(error), error);
    }
    if (m_host.observer)
        m_host.observer->connectionOpened(PortKind::File, m_name);
    return IoResult::done();
}

IoResult FileConnection::write(std::span<const std::uint8_t> bytes, Ms)
{
    if (!m_fd)
        return IoResult::failed("cannot write to " + describe() + ": not open", EBADF);
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(m_fd.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            int error = n < 0 ? errno : ENOSPC;
            return IoResult::failed("cannot write to " + describe() + ": " + std::strerror(error), error, done);
        }
        done += static_cast<std::size_t>(n);
    }
    return IoResult::done(done);
}

IoResult FileConnection::readFor(std::span<std::uint8_t>, Ms) { return IoResult::done(0); }

void FileConnection::close()
{
    if (!m_fd)
        return;
    m_fd.reset();
    if (m_host.observer)
        m_host.observer->connectionClosed();
}

IoResult FileConnection::reopen(const ReopenPolicy& policy) { return reopenByPolicy(*this, m_host.clock, policy); }
