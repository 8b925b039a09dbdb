#pragma once
// An output file instead of a printer ("FILE", or a plain file name). Nothing answers.
#include "app/ConnectionRules.h"
#include "common/UniqueFd.h"
#include "port/PrinterConnection.h"

class FileConnection final : public PrinterConnection {
public:
    FileConnection(const ConnectionSettings& settings, ConnectionHost host);

    PortKind kind() const override { return PortKind::File; }
    std::string describe() const override;
    // "FILE": the settings' output file, else the Prompter's answer, else "temp.prn"; the
    // file is created or truncated. The host's observer is told the file's name.
    IoResult open() override;
    bool isOpen() const override { return m_fd.valid(); }
    IoResult write(std::span<const std::uint8_t> bytes, Ms deadline) override;
    // Nothing can answer: Done with no bytes, at once.
    IoResult readFor(std::span<std::uint8_t> buffer, Ms wait) override;
    void close() override;
    IoResult reopen(const ReopenPolicy& policy) override;
    bool canAnswer() const override { return false; }

    const std::string& fileName() const { return m_name; }

private:
    ConnectionSettings m_settings;
    ConnectionHost m_host;
    std::string m_name;
    UniqueFd m_fd;
};
