// tavroctl send FILE: a technician's raw channel - the file's bytes go to the printer
// unchanged over the connection the options name.
#include "cli/CliCommand.h"
#include "cli/CliConnection.h"
#include "cli/CliPrompter.h"
#include "cli/CliSession.h"

#include "app/CErrorLog.h"
#include "app/Clock.h"
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

Result<std::vector<std::uint8_t>> readWholeFile(const std::string& path)
{
    std::error_code ec;
    auto size = std::filesystem::file_size(path, ec);
    if (ec)
        return Result<std::vector<std::uint8_t>>::failure(path + ": " + ec.message());
    if (size > kMaxSendBytes)
        return Result<std::vector<std::uint8_t>>::failure(path + ": larger than 64 MiB, not sent");
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return Result<std::vector<std::uint8_t>>::failure(path + ": " + std::strerror(errno));
    std::vector<std::uint8_t> bytes(static_cast<size_t>(size));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (static_cast<std::uintmax_t>(in.gcount()) != size)
        return Result<std::vector<std::uint8_t>>::failure(path + ": could not be read completely");
    return bytes;
}

int runSend(const CliOptions& options, const std::string& file)
{
    auto bytes = readWholeFile(file);
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
        std::cout << "{\"sent\":" << bytes->size() << "}\n";
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
