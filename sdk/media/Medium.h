// Medium: base of every object of the RTSP/RTP layer that belongs to one session's
// environment and is released with Medium::close.
#pragma once

namespace kx::media {

class UsageEnvironment;

class Medium {
public:
    Medium(const Medium&) = delete;
    Medium& operator=(const Medium&) = delete;

    // Destroys the medium (null is allowed). Must be called on the environment's loop thread
    // (or before the loop runs / after it ended).
    static void close(Medium* medium);

    UsageEnvironment& envir() const { return m_env; }

protected:
    explicit Medium(UsageEnvironment& env) : m_env(env) {}
    virtual ~Medium() = default;

private:
    UsageEnvironment& m_env;
};

}  // namespace kx::media
