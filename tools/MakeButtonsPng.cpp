// Writes the knob atlas: make_buttons_png OUTPUT.png
#include <cstdio>

#include "tools/ButtonsAtlas.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_buttons_png OUTPUT.png\n");
        return 2;
    }
    using namespace corvane::tools;
    if (!WriteRgbaPng(argv[1], DrawButtonsAtlas(), kAtlasWidth, kAtlasHeight)) {
        std::fprintf(stderr, "make_buttons_png: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
