// The six media sinks and the packaging of their frames, driven by a frame source on the
// session's scheduler: the exact bytes the data callback receives.
#include <glib.h>
#include <gtest/gtest.h>

#include <string>

#include "AACDataSink.h"
#include "G7221DataSink.h"
#include "H264DataSink.h"
#include "KXPackagedFrame.h"
#include "Mpeg4DataSink.h"
#include "PCMUDataSink.h"
#include "PrivateDataSink.h"
#include "SinkHarness.h"

namespace kx::sdk::testing {
namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kSps = {0x67, 0x42, 0xC0, 0x1E, 0xD9, 0x00, 0xA0, 0x47, 0xFE, 0xC8};
const Bytes kPps = {0x68, 0xCB, 0x83, 0xCB, 0x20};

std::string base64(const Bytes& b) {
    gchar* text = g_base64_encode(b.data(), b.size());
    std::string s(text);
    g_free(text);
    return s;
}

Bytes nal(uint8_t header, size_t size, uint8_t fill = 0xAB) {
    Bytes b(size, fill);
    b[0] = header;
    return b;
}

Bytes concat(const Bytes& a, const Bytes& b) {
    Bytes out = a;
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

class DataSinkTest : public ::testing::Test {
protected:
    SinkHarness h;
};

TEST_F(DataSinkTest, H264WithoutStartCodeGetsOneAndFrameTypeTwo) {
    const std::string sprop = base64(kSps) + "," + base64(kPps);
    H264DataSink* sink = H264DataSink::createNew(h.env(), &h.client(), sprop.c_str());
    ASSERT_NE(sink, nullptr);
    h.setCallback();
    const Bytes slice = nal(0x41, 300);
    h.play(sink, {makeFrame(slice, 1700000000, 123456)});
    closeMedium(sink);

    ASSERT_EQ(h.delivered.size(), 3u);  // parameter sets first, then the frame
    EXPECT_EQ(h.delivered[0].bytes,
              expectedVideoInner(1700000000, 123456, KX_DATA_H264, KX_FRAME_SPS, true, kSps));
    EXPECT_EQ(h.delivered[1].bytes,
              expectedVideoInner(1700000000, 123456, KX_DATA_H264, KX_FRAME_PPS, true, kPps));
    const Delivered& frame = h.delivered[2];
    EXPECT_EQ(frame.handle, SinkHarness::kRealHandle);
    EXPECT_EQ(frame.dataType, uint32_t(KX_DATA_H264));
    EXPECT_EQ(frame.user, &h);
    EXPECT_EQ(frame.bytes.size(), slice.size() + 16);
    EXPECT_EQ(frame.bytes,
              expectedVideoInner(1700000000, 123456, KX_DATA_H264, KX_FRAME_NOSTART, true, slice));
    EXPECT_EQ(h.afterPlayingCalls, 1);
}

TEST_F(DataSinkTest, H264WithStartCodesIsPackagedAsItCame) {
    H264DataSink* sink = H264DataSink::createNew(h.env(), &h.client(), "");
    ASSERT_NE(sink, nullptr);
    h.setCallback();
    const Bytes four = concat({0, 0, 0, 1}, nal(0x41, 50));
    const Bytes three = concat({0, 0, 1}, nal(0x41, 40));
    const Bytes idr3 = concat({0, 0, 1}, nal(0x65, 60));
    const Bytes sps4 = concat({0, 0, 0, 1}, kSps);
    const Bytes pps3 = concat({0, 0, 1}, kPps);
    h.play(sink, {makeFrame(four, 5, 0), makeFrame(three, 5, 40000), makeFrame(idr3, 5, 80000),
                  makeFrame(sps4, 5, 120000), makeFrame(pps3, 5, 120000)});
    closeMedium(sink);

    ASSERT_EQ(h.delivered.size(), 5u);  // no parameter sets: the description has none
    EXPECT_EQ(h.delivered[0].bytes,
              expectedVideoInner(5, 0, KX_DATA_H264, KX_FRAME_OTHER, false, four));
    EXPECT_EQ(h.delivered[0].bytes.size(), four.size() + 12);
    EXPECT_EQ(h.delivered[1].bytes,
              expectedVideoInner(5, 40000, KX_DATA_H264, KX_FRAME_OTHER, false, three));
    EXPECT_EQ(h.delivered[2].bytes,
              expectedVideoInner(5, 80000, KX_DATA_H264, KX_FRAME_IDR, false, idr3));
    EXPECT_EQ(h.delivered[3].bytes,
              expectedVideoInner(5, 120000, KX_DATA_H264, KX_FRAME_SPS, false, sps4));
    EXPECT_EQ(h.delivered[4].bytes,
              expectedVideoInner(5, 120000, KX_DATA_H264, KX_FRAME_PPS, false, pps3));
}

TEST_F(DataSinkTest, H264ClassifiesNalTypesWithoutStartCode) {
    bool start = true;
    EXPECT_EQ(H264DataSink::ClassifyFrame(nal(0x65, 8).data(), 8, start), KX_FRAME_IDR);
    EXPECT_FALSE(start);
    EXPECT_EQ(H264DataSink::ClassifyFrame(kSps.data(), unsigned(kSps.size()), start), KX_FRAME_SPS);
    EXPECT_EQ(H264DataSink::ClassifyFrame(kPps.data(), unsigned(kPps.size()), start), KX_FRAME_PPS);
    EXPECT_EQ(H264DataSink::ClassifyFrame(nal(0x06, 8).data(), 8, start), KX_FRAME_NOSTART);
    const Bytes onlyStart = {0, 0, 0, 1};
    EXPECT_EQ(H264DataSink::ClassifyFrame(onlyStart.data(), 4, start), KX_FRAME_OTHER);
    EXPECT_TRUE(start);
    EXPECT_EQ(H264DataSink::ClassifyFrame(nullptr, 0, start), KX_FRAME_NOSTART);
    EXPECT_FALSE(start);
}

TEST_F(DataSinkTest, H264ParameterSetsOncePerSinkAndOnlyOnceACallbackIsSet) {
    const std::string sprop = base64(kSps) + "," + base64(kPps) + "," + base64({0x06, 0x05});
    H264DataSink* sink = H264DataSink::createNew(h.env(), &h.client(), sprop.c_str());
    ASSERT_NE(sink, nullptr);
    h.play(sink, {makeFrame(nal(0x65, 20), 1, 0)});  // no callback yet: nothing delivered
    EXPECT_TRUE(h.delivered.empty());

    h.setCallback();
    h.play(sink, {makeFrame(nal(0x41, 20), 2, 0), makeFrame(nal(0x41, 21), 2, 40000)});
    closeMedium(sink);
    ASSERT_EQ(h.delivered.size(), 4u);
    EXPECT_EQ(h.delivered[0].bytes,
              expectedVideoInner(2, 0, KX_DATA_H264, KX_FRAME_SPS, true, kSps));
    EXPECT_EQ(h.delivered[1].bytes,
              expectedVideoInner(2, 0, KX_DATA_H264, KX_FRAME_PPS, true, kPps));
    EXPECT_EQ(h.delivered[2].bytes,
              expectedVideoInner(2, 0, KX_DATA_H264, KX_FRAME_NOSTART, true, nal(0x41, 20)));
    EXPECT_EQ(h.delivered[3].bytes,
              expectedVideoInner(2, 40000, KX_DATA_H264, KX_FRAME_NOSTART, true, nal(0x41, 21)));
}

TEST_F(DataSinkTest, H264WithOneParameterSetRecordDeliversFramesOnly) {
    const std::string sprop = base64(kSps);
    H264DataSink* sink = H264DataSink::createNew(h.env(), &h.client(), sprop.c_str());
    ASSERT_NE(sink, nullptr);
    h.setCallback();
    h.play(sink, {makeFrame(nal(0x65, 20), 3, 0), makeFrame(nal(0x41, 20), 3, 40000)});
    closeMedium(sink);
    ASSERT_EQ(h.delivered.size(), 2u);
    EXPECT_EQ(h.delivered[0].bytes,
              expectedVideoInner(3, 0, KX_DATA_H264, KX_FRAME_IDR, true, nal(0x65, 20)));
    EXPECT_EQ(h.delivered[1].bytes,
              expectedVideoInner(3, 40000, KX_DATA_H264, KX_FRAME_NOSTART, true, nal(0x41, 20)));
}

TEST_F(DataSinkTest, Mpeg4AlwaysGetsStartCodeAndFrameTypeZero) {
    Mpeg4DataSink* sink = Mpeg4DataSink::createNew(h.env(), &h.client());
    ASSERT_NE(sink, nullptr);
    h.setCallback();
    const Bytes vop = {0x00, 0x00, 0x01, 0xB6, 0x10, 0x20, 0x30};
    h.play(sink, {makeFrame(vop, 9, 1)});
    closeMedium(sink);
    ASSERT_EQ(h.delivered.size(), 1u);
    EXPECT_EQ(h.delivered[0].dataType, uint32_t(KX_DATA_MPEG4));
    EXPECT_EQ(h.delivered[0].bytes,
              expectedVideoInner(9, 1, KX_DATA_MPEG4, KX_FRAME_OTHER, true, vop));
}

// One frame through an audio sink: packaged as audio with the sink's data type and the
// format the session set (channel count and sample rate at offsets 35 and 39).
struct AudioSinkCase {
    const char* name;
    uint16_t dataType;
    uint32_t sampleRate;
    uint32_t channels;
    Bytes payload;
    uint32_t seconds;
    uint32_t microseconds;
};

AudioDataSink* createAudioSink(SinkHarness& h, uint16_t dataType) {
    switch (dataType) {
        case KX_DATA_AAC:
            return AACDataSink::createNew(h.env(), &h.client());
        case KX_DATA_G7221:
            return G7221DataSink::createNew(h.env(), &h.client());
        default:  // mu-law and A-law
            return PCMUDataSink::createNew(h.env(), &h.client(), dataType);
    }
}

class AudioSinkTest : public ::testing::TestWithParam<AudioSinkCase> {
protected:
    SinkHarness h;
};

TEST_P(AudioSinkTest, PackagesTheFrameAsAudio) {
    const AudioSinkCase& c = GetParam();
    AudioDataSink* sink = createAudioSink(h, c.dataType);
    ASSERT_NE(sink, nullptr);
    sink->SetAudioFormat(c.sampleRate, c.channels);
    h.setCallback();
    h.play(sink, {makeFrame(c.payload, c.seconds, c.microseconds)});
    closeMedium(sink);
    ASSERT_EQ(h.delivered.size(), 1u);
    const Bytes& inner = h.delivered[0].bytes;
    EXPECT_EQ(h.delivered[0].dataType, uint32_t(c.dataType));
    EXPECT_EQ(inner.size(), c.payload.size() + 20);
    EXPECT_EQ(getLe32(inner.data() + 12), c.channels);
    EXPECT_EQ(getLe32(inner.data() + 16), c.sampleRate);
    EXPECT_EQ(inner, expectedAudioInner(c.seconds, c.microseconds, c.dataType, c.channels,
                                        c.sampleRate, c.payload));
}

INSTANTIATE_TEST_SUITE_P(
    DataSinkTest, AudioSinkTest,
    ::testing::Values(
        AudioSinkCase{"AacCarriesChannelsAndSampleRate", KX_DATA_AAC, 48000, 2, Bytes(371, 0x5A),
                      77, 500},
        AudioSinkCase{"PcmuUsesItsDataType", KX_DATA_PCMU, 8000, 1, Bytes(160, 0xFF), 4, 20000},
        AudioSinkCase{"PcmaUsesItsDataType", KX_DATA_PCMA, 8000, 1, Bytes(160, 0xD5), 4, 20000},
        AudioSinkCase{"G7221IsPackagedAsAudio", KX_DATA_G7221, 16000, 1, Bytes(60, 0x11), 6, 0}),
    [](const ::testing::TestParamInfo<AudioSinkCase>& info) { return info.param.name; });

TEST_F(DataSinkTest, SoundOffDropsAudioButNotVideo) {
    AACDataSink* audio = AACDataSink::createNew(h.env(), &h.client());
    H264DataSink* video = H264DataSink::createNew(h.env(), &h.client(), "");
    ASSERT_NE(audio, nullptr);
    ASSERT_NE(video, nullptr);
    audio->SetAudioFormat(16000, 2);
    h.setCallback();
    h.client().SetSoundOn(false);
    h.play(audio, {makeFrame(Bytes(100, 1), 1, 0), makeFrame(Bytes(100, 2), 1, 1)});
    h.play(video, {makeFrame(nal(0x41, 30), 1, 2)});
    EXPECT_EQ(h.delivered.size(), 1u);
    EXPECT_EQ(h.delivered.at(0).dataType, uint32_t(KX_DATA_H264));

    h.client().SetSoundOn(true);
    h.play(audio, {makeFrame(Bytes(100, 3), 1, 3)});
    closeMedium(audio);
    closeMedium(video);
    ASSERT_EQ(h.delivered.size(), 2u);
    EXPECT_EQ(h.delivered[1].dataType, uint32_t(KX_DATA_AAC));
}

TEST_F(DataSinkTest, EmptyAudioFrameIsDropped) {
    PCMUDataSink* sink = PCMUDataSink::createNew(h.env(), &h.client(), KX_DATA_PCMU);
    ASSERT_NE(sink, nullptr);
    h.setCallback();
    h.play(sink, {makeFrame({}, 1, 0)});
    closeMedium(sink);
    EXPECT_TRUE(h.delivered.empty());
}

TEST_F(DataSinkTest, PrivatePayloadIsDeliveredRaw) {
    PrivateDataSink* sink = PrivateDataSink::createNew(h.env(), &h.client());
    ASSERT_NE(sink, nullptr);
    h.setCallback();
    h.client().SetSoundOn(false);  // does not apply to the private payload
    const Bytes a = {'Q', 'S', 1, 2, 3};
    const Bytes b(1400, 0x77);
    h.play(sink, {makeFrame(a, 1, 0), makeFrame(b, 1, 1)});
    closeMedium(sink);
    ASSERT_EQ(h.delivered.size(), 2u);
    EXPECT_EQ(h.delivered[0].dataType, uint32_t(KX_DATA_PRIVATE));
    EXPECT_EQ(h.delivered[0].bytes, a);
    EXPECT_EQ(h.delivered[1].bytes, b);
}

TEST_F(DataSinkTest, NoCallbackNoDelivery) {
    Mpeg4DataSink* sink = Mpeg4DataSink::createNew(h.env(), &h.client());
    ASSERT_NE(sink, nullptr);
    h.setCallback();
    h.clearCallback();
    h.play(sink, {makeFrame({1, 2, 3}, 1, 0)});
    closeMedium(sink);
    EXPECT_TRUE(h.delivered.empty());
}

TEST_F(DataSinkTest, PacketBufferGrowsToExactlyWhatAFrameNeedsAndNeverShrinks) {
    EXPECT_EQ(h.client().DataBufSize(), CLiveClient::kInitialDataBufSize);
    H264DataSink* video = H264DataSink::createNew(h.env(), &h.client(), "");
    AACDataSink* audio = AACDataSink::createNew(h.env(), &h.client());
    ASSERT_NE(video, nullptr);
    ASSERT_NE(audio, nullptr);
    h.setCallback();

    h.play(video, {makeFrame(nal(0x41, 1000), 1, 0)});  // fits
    EXPECT_EQ(h.client().DataBufSize(), CLiveClient::kInitialDataBufSize);
    h.play(video, {makeFrame(nal(0x41, 300000), 1, 0)});
    EXPECT_EQ(h.client().DataBufSize(), 300050);
    h.play(video, {makeFrame(nal(0x41, 1000), 1, 0)});
    EXPECT_EQ(h.client().DataBufSize(), 300050);
    h.play(audio, {makeFrame(Bytes(400000, 9), 1, 0)});
    EXPECT_EQ(h.client().DataBufSize(), 400054);
    h.play(audio, {makeFrame(Bytes(399990, 9), 1, 0)});
    EXPECT_EQ(h.client().DataBufSize(), 400054);
    closeMedium(video);
    closeMedium(audio);
    ASSERT_EQ(h.delivered.size(), 5u);
    EXPECT_EQ(h.delivered[1].bytes.size(), 300016u);
    EXPECT_EQ(h.delivered[3].bytes, expectedAudioInner(1, 0, KX_DATA_AAC, 0, 0, Bytes(400000, 9)));
}

TEST_F(DataSinkTest, FrameLongerThanTheReceiveBufferArrivesCut) {
    Mpeg4DataSink* sink = Mpeg4DataSink::createNew(h.env(), &h.client());
    ASSERT_NE(sink, nullptr);
    h.setCallback();
    h.play(sink, {makeFrame(Bytes(DataSink::kBufferSize + 10, 0x42), 1, 0)});
    closeMedium(sink);
    ASSERT_EQ(h.delivered.size(), 1u);
    EXPECT_EQ(h.delivered[0].bytes.size(), DataSink::kBufferSize + 16u);
    EXPECT_EQ(h.client().DataBufSize(), int32_t(DataSink::kBufferSize + 50));
}

}  // namespace
}  // namespace kx::sdk::testing
