// BrelsoPlayer: the video-surveillance player.
#include "CBrelsoPlayerApp.h"

int main(int argc, char** argv) {
    CBrelsoPlayerApp app(argc, argv);
    return app.InitInstance();
}
