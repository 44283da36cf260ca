// render_logo: writes the player's logo, as the player itself draws it, to a PNG file. Run at
// build time to make the icon of the desktop menu entry.
//
//   render_logo <size> <file.png>
#include <QImage>
#include <cstdio>
#include <cstdlib>

#include "Pictures.h"

int main(int argc, char** argv) {
    const int size = argc == 3 ? std::atoi(argv[1]) : 0;
    if (size < 16 || size > 1024) {
        std::fprintf(stderr, "usage: render_logo <size 16..1024> <file.png>\n");
        return 2;
    }
    if (!BrelsoRes::DrawLogo(size).save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "render_logo: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
