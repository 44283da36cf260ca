/*
 * record_camera: opens a camera's RTSP address with the Brelso stream library, counts the
 * frames that arrive and records the first seconds (ten unless told) to a ".qf" file.
 *
 *   record_camera rtsp://HOST[:PORT]/PATH [file.qf] [seconds]
 */
#include <KXRtspSdk.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static atomic_long video_frames, audio_frames;

/* Called on the session's thread for every frame: count it, nothing more. */
static void on_frame(int32_t handle, uint32_t type, uint8_t* inner, uint32_t size, void* user) {
    (void)handle, (void)inner, (void)size, (void)user;
    if (type == KX_DATA_H264 || type == KX_DATA_MPEG4)
        atomic_fetch_add(&video_frames, 1);
    else if (type != KX_DATA_PRIVATE)
        atomic_fetch_add(&audio_frames, 1);
}

int main(int argc, char** argv) {
    char host[16] = "", path[256] = "/";
    unsigned port = 554;
    if (argc < 2 || sscanf(argv[1], "rtsp://%15[0-9.]:%u%255s", host, &port, path) < 2) {
        if (argc < 2 || sscanf(argv[1], "rtsp://%15[0-9.]%255s", host, path) < 1) {
            fprintf(stderr, "usage: %s rtsp://HOST[:PORT]/PATH [file.qf] [seconds]\n", argv[0]);
            return 2;
        }
    }
    const char* file = argc > 2 ? argv[2] : "camera.qf";
    const int seconds = argc > 3 ? atoi(argv[3]) : 10;
    printf("KXRtspSdk %d.%d.%d: %s\n", KX_NET_VERSION_MAJOR, KX_NET_VERSION_MINOR,
           KX_NET_VERSION_PATCH, argv[1]);

    KX_NET_Init(0, 0, 0);
    const int32_t login = KX_NET_Login(host, (uint16_t)port, "", "");
    const int32_t play = KX_NET_RealPlay(login, 0, 0, 1 /* RTP over TCP */, path, 0);
    if (play < 0) {
        fprintf(stderr, "cannot open %s\n", argv[1]);
        KX_NET_Cleanup();
        return 1;
    }
    KX_NET_SetRealDataCallBack(play, on_frame, NULL);
    KX_NET_SaveRealData(play, file);
    for (int s = 1; s <= seconds; ++s) {
        sleep(1);
        printf("%2d s: %ld video frames, %ld audio frames\n", s, atomic_load(&video_frames),
               atomic_load(&audio_frames));
    }
    KX_NET_StopSaveRealData(play);
    KX_NET_StopRealPlay(play);
    KX_NET_Logout(login);
    KX_NET_Cleanup();
    printf("recorded %s\n", file);
    return atomic_load(&video_frames) > 0 ? 0 : 1;
}
