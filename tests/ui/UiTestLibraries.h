// Both libraries started for the whole test program, as the application starts them.
#pragma once

#include <QtTest>

#include "KXPlaySdk.h"
#include "KXRtspSdk.h"

struct UiTestLibraries {
    static void Init() {
        QCOMPARE(KX_NET_Init(0, 0, 0), 1);
        QVERIFY(KX_PLAY_Init(0) != 0);
    }
    static void Cleanup() {
        KX_NET_Cleanup();
        KX_PLAY_Cleanup();
    }
};
