// kovex-artgen: writes the panel's image files, icon and sample settings, or a preview of the panel.
#include "tools/artgen/artwork.h"
#include "tools/artgen/preview.h"

#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int Run(int argc, char** argv) {
    if (argc >= 4 && std::strcmp(argv[1], "--preview") == 0) {
        artwork::PreviewValues values;
        for (int i = 4; i < argc; ++i) {
            values.positionBanner = values.positionBanner || std::strcmp(argv[i], "position") == 0;
            values.sizeBanner = values.sizeBanner || std::strcmp(argv[i], "size") == 0;
            if (std::strcmp(argv[i], "zero") == 0) values = artwork::PreviewValues{0, 0, 0, 0, 0, 0, "0000", "0000"};
            if (std::strcmp(argv[i], "full") == 0)
                values = artwork::PreviewValues{600, 500, 100, 90, 140, -30, "9999", "8888"};
        }
        std::string error;
        if (!artwork::RenderPreview(argv[2], argv[3], 1104, 400, values, error)) {
            std::fprintf(stderr, "kovex-artgen: %s\n", error.c_str());
            return 1;
        }
        return 0;
    }
    if (argc != 2) {
        std::fprintf(stderr,
                     "usage: kovex-artgen <outdir>\n"
                     "       kovex-artgen --preview <assetdir> <out.png> [position] [size] [zero|full]\n");
        return 2;
    }
    std::string failed;
    if (!artwork::GenerateArtwork(argv[1], failed)) {
        std::fprintf(stderr, "kovex-artgen: cannot write %s in %s\n", failed.c_str(), argv[1]);
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const int status = Run(argc, argv);
    // Drops Cairo's and fontconfig's caches, so leak checkers see only the program's own memory.
    cairo_debug_reset_static_data();
    FcFini();
    return status;
}
