// Sound output of one port through SDL2: a device opened for the format of the samples that
// arrive, fed from the port's thread, with a volume of 0..100. Without a sound device the
// samples are dropped and the port plays on.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kx::play {

class AudioOutput {
public:
    AudioOutput() = default;
    ~AudioOutput();
    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;

    void setVolume(int volume);  // any thread
    // Plays interleaved S16 samples; reopens the device when the format changes. Returns
    // false when there is no device (the samples are dropped).
    bool play(const uint8_t* data, size_t size, int channels, int sampleRate);
    // Drops what is queued but not yet played (a seek, a reset).
    void clear();
    void close();
    bool isOpen() const { return m_device != 0; }

private:
    uint32_t m_device = 0;
    int m_channels = 0;
    int m_sampleRate = 0;
    bool m_failed = false;  // this format could not be opened: do not retry per block
    bool m_subsystem = false;
    std::atomic<int> m_volume{100};
    std::vector<uint8_t> m_scaled;
};

}  // namespace kx::play
