#include "AudioOutput.h"

#include <SDL.h>

#include <algorithm>
#include <mutex>

namespace kx::play {
namespace {

// SDL's audio subsystem is shared by all ports: counted opens and closes.
std::mutex g_sdlMutex;
int g_sdlUsers = 0;

bool acquireSdlAudio() {
    std::lock_guard lock(g_sdlMutex);
    if (g_sdlUsers == 0 && SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
    ++g_sdlUsers;
    return true;
}

void releaseSdlAudio() {
    std::lock_guard lock(g_sdlMutex);
    if (g_sdlUsers > 0 && --g_sdlUsers == 0) SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

}  // namespace

AudioOutput::~AudioOutput() {
    close();
}

void AudioOutput::setVolume(int volume) {
    m_volume = std::clamp(volume, 0, 100);
}

void AudioOutput::close() {
    if (m_device != 0) {
        std::lock_guard lock(g_sdlMutex);
        SDL_CloseAudioDevice(m_device);
        m_device = 0;
    }
    if (m_subsystem) {
        releaseSdlAudio();
        m_subsystem = false;
    }
    m_channels = m_sampleRate = 0;
    m_failed = false;
}

void AudioOutput::clear() {
    if (m_device != 0) SDL_ClearQueuedAudio(m_device);
}

bool AudioOutput::play(const uint8_t* data, size_t size, int channels, int sampleRate) {
    if (channels != m_channels || sampleRate != m_sampleRate) {
        close();
        m_channels = channels;
        m_sampleRate = sampleRate;
        if (!acquireSdlAudio()) {
            m_failed = true;
            return false;
        }
        m_subsystem = true;
        SDL_AudioSpec want{};
        want.freq = sampleRate;
        want.format = AUDIO_S16SYS;
        want.channels = static_cast<Uint8>(channels);
        want.samples = 1024;
        SDL_AudioSpec have{};
        {
            std::lock_guard lock(g_sdlMutex);
            m_device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
        }
        if (m_device == 0) {
            m_failed = true;
            return false;
        }
        SDL_PauseAudioDevice(m_device, 0);
    }
    if (m_failed || m_device == 0) return false;
    // Keep no more than half a second queued, so sound cannot drift behind the pictures.
    const Uint32 limit = static_cast<Uint32>(sampleRate * channels * 2 / 2);
    if (SDL_GetQueuedAudioSize(m_device) > limit) SDL_ClearQueuedAudio(m_device);
    const int volume = m_volume.load();
    if (volume >= 100) return SDL_QueueAudio(m_device, data, static_cast<Uint32>(size)) == 0;
    if (m_scaled.size() < size) m_scaled.resize(size);
    const size_t samples = size / 2;
    const int16_t* in = reinterpret_cast<const int16_t*>(data);
    int16_t* out = reinterpret_cast<int16_t*>(m_scaled.data());
    for (size_t i = 0; i < samples; ++i) out[i] = static_cast<int16_t>(in[i] * volume / 100);
    return SDL_QueueAudio(m_device, m_scaled.data(), static_cast<Uint32>(samples * 2)) == 0;
}

}  // namespace kx::play
