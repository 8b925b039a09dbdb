#include "app/Sha256.h"

#include <openssl/evp.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>

namespace {

struct DigestContext {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx{EVP_MD_CTX_new(), &EVP_MD_CTX_free};
    DigestContext()
    {
        if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1)
            throw std::bad_alloc();
    }
    void add(const void* data, std::size_t n) { EVP_DigestUpdate(ctx.get(), data, n); }
    std::string hex()
    {
        std::array<unsigned char, EVP_MAX_MD_SIZE> md{};
        unsigned int length = 0;
        EVP_DigestFinal_ex(ctx.get(), md.data(), &length);
        static const char digits[] = "0123456789abcdef";
        std::string out;
        for (unsigned int i = 0; i < length; ++i) {
            out += digits[md[i] >> 4];
            out += digits[md[i] & 0x0F];
        }
        return out;
    }
};

} // namespace

std::string sha256Hex(std::span<const std::uint8_t> bytes)
{
    DigestContext d;
    d.add(bytes.data(), bytes.size());
    return d.hex();
}

Result<std::string> sha256OfFile(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return Status::failure("cannot open " + file.string() + ": " + std::strerror(errno));
    DigestContext d;
    std::array<char, 64 * 1024> buffer{};
    while (in) {
        in.read(buffer.data(), buffer.size());
        if (in.gcount() > 0)
            d.add(buffer.data(), static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad())
        return Status::failure("cannot read " + file.string());
    return d.hex();
}

std::string normalisedSha256(std::string_view text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    if (text.size() != 64)
        return {};
    std::string out;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return {};
        out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}
