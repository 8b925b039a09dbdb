#pragma once
// A bitmap list's pictures read and converted once, for uploads to many printers: the items in
// upload order, the options they were converted with, the list's predicted size (the
// TAVRO36/38 notice is decided on it, as for a list) and the pictures. Nothing in it changes
// after prepareLogos: any number of uploads on any threads may share one set.
#include "app/Result.h"
#include "logo/LogoOptions.h"
#include "logo/LogoPicture.h"
#include "logo/NvUpload.h"

#include <cstdint>
#include <memory>
#include <vector>

class BitmapList;

struct PreparedLogos {
    std::vector<NvUpload::Item> items;
    LogoOptions options;
    std::uint64_t predictedBytes = 0;
    std::shared_ptr<const std::vector<LogoPicture>> pictures;
};

// Converts the list's pictures with the options. Failure: "cannot convert PATH: reason".
// Any thread (the list and options are only read).
Result<std::shared_ptr<const PreparedLogos>> prepareLogos(const BitmapList& list, const LogoOptions& options);
