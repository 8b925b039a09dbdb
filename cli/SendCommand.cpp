// tavroctl send FILE: a technician's raw channel - the file's bytes go to the printer
// unchanged over the connection the options name.
#include "cli/CliCommand.h"
#include "cli/CliConnection.h"
#include "cli/CliPrompter.h"
#include "cli/CliSession.h"
#include "cli/JsonLine.h"

#include "app/CErrorLog.h"
#include "app/Clock.h"
#include "common/FileIo.h"
#include "port/CPorts.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>

namespace {

// Far beyond the largest thing a printer takes (an 8 MiB firmware image); a bigger file is
// most likely the wrong one.
constexpr std::uintmax_t kMaxSendBytes = 64u * 1024 * 1024;

Result<std::vector<std::uint8_t>> readSendFile(const std::string& path)
{
    std::vector<std::uint8_t> bytes;
    FileOutcome read = readWholeFile(path, kMaxSendBytes, &bytes);
    if (read.fault == FileOutcome::Fault::TooLarge)
        return Result<std::vector<std::uint8_t>>::failure(path + ": larger than 64 MiB, not sent");
    if (!read)
        return Result<std::vector<std::uint8_t>>::failure(read.message);
    return bytes;
}

int runSend(const CliOptions& options, const std::string& file)
{
    auto bytes = readSendFile(file);
    if (!bytes)
        return cliFail(bytes.message());
    CliSession session(options);
    auto connection = session.connect();
    if (!connection)
        return cliFail(connection.message());
    if (Status s = sendRaw(**connection, *bytes, session.progress(), session.where()); !s)
        return cliFail(s.message());
    std::string where = session.where();
    if (options.json)
        std::cout << toJsonLine({{"sent", bytes->size()}}) << "\n";
    else
        std::cout << "sent " << bytes->size() << " bytes to " << where << "\n";
    return 0;
}

void installSend(CLI::App& app, CliContext& context)
{
    auto* cmd = app.add_subcommand("send", "send a file's bytes unchanged to the printer");
    auto file = std::make_shared<std::string>();
    cmd->add_option("FILE", *file, "the file to send")->required();
    cmd->callback([&context, file] { context.action = [&context, file] { return runSend(context.options, *file); }; });
}

const CommandRegistrar registrar("send", installSend);

} // namespace
