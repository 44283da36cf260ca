// Both libraries are initialised once per test process, as the program does at its start,
// and released at its end.
#include <gtest/gtest.h>

#include "KXPlaySdk.h"
#include "KXRtspSdk.h"

namespace {

class EngineLibraries : public ::testing::Environment {
public:
    void SetUp() override {
        ASSERT_EQ(KX_NET_Init(0, 0, 0), 1);
        ASSERT_NE(KX_PLAY_Init(0), 0);
    }
    void TearDown() override {
        KX_NET_Cleanup();
        KX_PLAY_Cleanup();
    }
};

[[maybe_unused]] ::testing::Environment* const g_pLibraries =
    ::testing::AddGlobalTestEnvironment(new EngineLibraries);

}  // namespace
