#pragma once
// A firmware image file: a flat copy of the printer's 8 MiB flash whose last five bytes are
// the boot-permission byte and the signature "QZM2". Everything that decides whether a file
// may be sent is checked here, in one place, before a byte leaves for the printer.
#include "app/Result.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

// The shape of an image: its size and how far the flash areas are scaled down. The tool only
// ever uses the printer's flash (FirmwareImageLayout::flash()); the fuzz harness uses a copy
// shrunk by a power of two so that millions of runs go through the same checks on a few
// kilobytes. The trailer is always the last five bytes.
struct FirmwareImageLayout {
    std::uint32_t size = 0x800000;
    // Every area's offset and length are divided by this (1 for the printer).
    std::uint32_t scale = 1;
    constexpr std::uint32_t bootPermissionOffset() const { return size - 5; }
    constexpr std::uint32_t signatureOffset() const { return size - 4; }
    static constexpr FirmwareImageLayout flash() { return {}; }
    // The flash divided by scale (a power of two up to 4096, where the Boot block still
    // holds more than its four replaced bytes).
    static constexpr FirmwareImageLayout scaledDown(std::uint32_t scale) { return {0x800000 / scale, scale}; }
};

class FirmwareImage {
public:
    // The only size the printer's flash image has; also the cap on what parse and load read.
    static constexpr std::uint32_t kSize = FirmwareImageLayout::flash().size;
    static constexpr std::uint32_t kBootPermissionOffset = 0x7FFFFB;
    static constexpr std::uint32_t kSignatureOffset = 0x7FFFFC;

    // Why a file was refused, so that each front end shows its own text for it.
    enum class Fault { None, CannotOpen, WrongSize, ShortRead, NoSignature };

    // The five trailer bytes as File Open reads them: from a file of any size, the bytes a
    // short file lacks read as zero (so a short file has no signature).
    struct Trailer {
        std::uint8_t bootPermission = 0;
        bool signature = false;
        // The four bytes where the signature belongs, as found (zero where the file ends).
        std::array<std::uint8_t, 4> signatureBytes{};
        // Boot Area may be chosen (in service mode) only for a permission of 1..10.
        bool bootAllowed() const { return bootPermission >= 1 && bootPermission <= 10; }
    };
    static Trailer trailerOf(std::span<const std::uint8_t> fileBytes,
                             const FirmwareImageLayout& layout = FirmwareImageLayout::flash());
    // Reads the trailer of a file; fails (CannotOpen) only when it cannot be opened.
    static Result<Trailer> readTrailer(const std::filesystem::path& file);

    // Checks everything: exactly kSize bytes and the signature. On failure *fault says why
    // and the message is the reason in English ("FileSize (8388609 bytes) Error!").
    static Result<FirmwareImage> parse(std::vector<std::uint8_t> bytes, Fault* fault = nullptr,
                                       const FirmwareImageLayout& layout = FirmwareImageLayout::flash());
    // Reads and parses a file. A file larger than kSize is refused from its size without
    // reading it; *fileSize gets the size found (for the "FileSize (%d bytes) Error!" text).
    static Result<FirmwareImage> load(const std::filesystem::path& file, Fault* fault = nullptr,
                                      std::uint64_t* fileSize = nullptr);

    std::span<const std::uint8_t> bytes() const { return m_bytes; }
    const FirmwareImageLayout& layout() const { return m_layout; }
    Trailer trailer() const { return trailerOf(m_bytes, m_layout); }

private:
    FirmwareImage(std::vector<std::uint8_t> bytes, const FirmwareImageLayout& layout)
        : m_bytes(std::move(bytes)), m_layout(layout)
    {
    }
    std::vector<std::uint8_t> m_bytes;
    FirmwareImageLayout m_layout;
};

// "FileSize (%d bytes) Error!" for a size.
std::string fileSizeErrorText(std::uint64_t size);
