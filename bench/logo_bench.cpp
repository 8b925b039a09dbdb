// logo_bench: how fast one BMP file becomes NV raster bytes. Each round loads the file
// (read + header checks), converts it (luminance, curve, dithering) and packs the raster,
// exactly as one picture of an upload does, with one rasterizer reused as the upload does.
//
//   logo_bench FILE [--gray] [--center] [--seconds S] [--min-rounds N] [--json]
//
// Prints rounds, seconds, megapixels per second and the peak resident memory.
#include "logo/LogoPicture.h"
#include "logo/LogoRasterizer.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <ctime>
#include <sys/resource.h>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: logo_bench FILE [--gray] [--center] [--seconds S] [--min-rounds N] [--json]\n");
        return 2;
    }
    const char* file = argv[1];
    LogoOptions options;
    bool center = false, json = false;
    double seconds = 2.0;
    long minRounds = 20;
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--gray")
            options.grayPrinting = true;
        else if (a == "--center")
            center = true;
        else if (a == "--json")
            json = true;
        else if (a == "--seconds" && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else if (a == "--min-rounds" && i + 1 < argc)
            minRounds = std::atol(argv[++i]);
        else {
            std::fprintf(stderr, "logo_bench: unknown argument %s\n", a.c_str());
            return 2;
        }
    }

    LogoRasterizer rasterizer(options);
    auto first = rasterizeLogo(rasterizer, file, center);
    if (!first.ok()) {
        std::fprintf(stderr, "logo_bench: %s\n", first.message().c_str());
        return 1;
    }
    // Pixels of the picture itself (not the padding), as the peers count them.
    auto probe = BmpImage::load(file);
    const double pixels = double(probe->width()) * probe->height();
    const int bpp = probe->bitCount();

    // CPU time of this process: on a loaded machine, wall time measures the other jobs too.
    // The comparison script times Pillow with its process CPU time in the same way.
    auto cpuNow = [] {
        timespec ts{};
        ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
        return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
    };
    using clock = std::chrono::steady_clock;
    long rounds = 0;
    std::size_t checksum = 0;
    const auto start = clock::now();
    const double cpuStart = cpuNow();
    double elapsed = 0;
    while (rounds < minRounds || elapsed < seconds) {
        auto picture = rasterizeLogo(rasterizer, file, center);
        if (!picture.ok()) {
            std::fprintf(stderr, "logo_bench: %s\n", picture.message().c_str());
            return 1;
        }
        checksum += picture->raster[picture->raster.size() / 2];
        ++rounds;
        elapsed = cpuNow() - cpuStart;
    }
    const double wall = std::chrono::duration<double>(clock::now() - start).count();
    struct rusage ru {};
    ::getrusage(RUSAGE_SELF, &ru);
    const double mps = pixels * double(rounds) / elapsed / 1e6;
    if (json)
        std::printf("{\"file\":\"%s\",\"width\":%d,\"height\":%d,\"bpp\":%d,\"rounds\":%ld,\"seconds\":%.4f,"
                    "\"wallSeconds\":%.4f,\"mpixPerSec\":%.2f,\"msPerRound\":%.4f,\"peakRssKB\":%ld,\"checksum\":%zu}\n",
                    file, probe->width(), probe->height(), bpp, rounds, elapsed, wall, mps,
                    elapsed * 1000 / double(rounds), long(ru.ru_maxrss), checksum);
    else
        std::printf("%s: %d x %d, %d bpp: %ld rounds in %.3f s CPU, %.3f ms each, %.1f Mpixel/s, peak RSS %ld KB\n", file,
                    probe->width(), probe->height(), bpp, rounds, elapsed, elapsed * 1000 / double(rounds), mps,
                    long(ru.ru_maxrss));
    return 0;
}
