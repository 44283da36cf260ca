/*
 * qf_info: prints the time range of ".qf" recordings, read by the Brelso decode library.
 *
 *   qf_info file.qf...
 */
#include <KXPlaySdk.h>
#include <stdio.h>

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s file.qf...\n", argv[0]);
        return 2;
    }
    if (!KX_PLAY_Init(0)) {
        fprintf(stderr, "KXPlaySdk %d.%d.%d does not start\n", KX_PLAY_VERSION_MAJOR,
                KX_PLAY_VERSION_MINOR, KX_PLAY_VERSION_PATCH);
        return 1;
    }
    int failed = 0;
    for (int i = 1; i < argc; ++i) {
        int64_t start = 0, end = 0;
        if (KX_PLAY_GetFileTime(argv[i], &start, &end) < 0) {
            fprintf(stderr, "%s: no recording\n", argv[i]);
            failed = 1;
            continue;
        }
        printf("%s: %lld s, from %lld to %lld\n", argv[i], (long long)(end - start),
               (long long)start, (long long)end);
    }
    KX_PLAY_Cleanup();
    return failed;
}
