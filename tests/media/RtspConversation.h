// RtspConversation: drives one RTSPClient through OPTIONS, DESCRIBE, SETUP of every
// subsession, PLAY, frames into a CollectingSink per subsession, and TEARDOWN, recording what
// each step answered. Runs entirely on the harness's loop thread.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "CollectingSink.h"
#include "LoopHarness.h"
#include "MediaSession.h"
#include "RTSPClient.h"

namespace kx::media::test {

class RtspConversation;

class ConversationClient : public RTSPClient {
public:
    ConversationClient(UsageEnvironment& env, const char* url, RtspConversation* owner)
        : RTSPClient(env, url), conversation(owner) {}
    RtspConversation* conversation;
};

class RtspConversation {
public:
    struct Options {
        bool useTcp = false;
        // The conversation ends (TEARDOWN, then the loop stops) once this returns true.
        std::function<bool(RtspConversation&)> done;
        bool teardown = true;
    };

    RtspConversation(LoopHarness& harness, const std::string& url, Options options)
        : m_harness(harness), m_url(url), m_options(std::move(options)) {}
    ~RtspConversation() { cleanup(); }

    // Starts with OPTIONS; run the harness afterwards.
    void start() {
        m_client = new ConversationClient(m_harness.env, m_url.c_str(), this);
        m_client->sendOptionsCommand(&afterOptions);
    }
    void cleanup() {
        for (CollectingSink* sink : sinks) Medium::close(sink);
        sinks.clear();
        Medium::close(session);
        session = nullptr;
        Medium::close(m_client);
        m_client = nullptr;
    }

    RTSPClient* client() const { return m_client; }
    CollectingSink* sinkFor(const char* medium) const {
        for (size_t i = 0; i < sinks.size(); ++i) {
            if (std::string(sinkMedia[i]) == medium) return sinks[i];
        }
        return nullptr;
    }

    // Results of each step (1 while not answered).
    int optionsCode = 1, describeCode = 1, playCode = 1, teardownCode = 1;
    std::string publicMethods, sdp, playError, lastError;
    std::vector<int> setupCodes;
    MediaSession* session = nullptr;
    std::vector<CollectingSink*> sinks;
    std::vector<std::string> sinkMedia;
    bool finished = false;

    static RtspConversation& of(RTSPClient* c) {
        return *static_cast<ConversationClient*>(c)->conversation;
    }

    void checkDone() {
        if (finished || !m_options.done || !m_options.done(*this)) return;
        finished = true;
        for (CollectingSink* sink : sinks) sink->stopPlaying();
        if (m_options.teardown && session != nullptr) {
            m_client->sendTeardownCommand(*session, &afterTeardown);
        } else {
            m_harness.stop();
        }
    }
    void fail(int code, char* text) {
        lastError = text ? text : "";
        delete[] text;
        (void)code;
        m_harness.stop();
    }

private:
    static void afterOptions(RTSPClient* c, int code, char* text) {
        RtspConversation& self = of(c);
        self.optionsCode = code;
        if (code != 0) return self.fail(code, text);
        self.publicMethods = text ? text : "";
        delete[] text;
        c->sendDescribeCommand(&afterDescribe);
    }
    static void afterDescribe(RTSPClient* c, int code, char* text) {
        RtspConversation& self = of(c);
        self.describeCode = code;
        if (code != 0) return self.fail(code, text);
        self.sdp = text ? text : "";
        delete[] text;
        self.session = MediaSession::createNew(self.m_harness.env, self.sdp.c_str());
        if (self.session == nullptr) return self.fail(-100, nullptr);
        self.m_next = 0;
        self.setupNext();
    }
    void setupNext() {
        auto& subs = session->subsessions();
        while (m_next < subs.size()) {
            MediaSubsession& sub = *subs[m_next++];
            if (!sub.initiate()) continue;
            m_current = &sub;
            m_client->sendSetupCommand(sub, &afterSetup, false, m_options.useTcp);
            return;
        }
        m_client->sendPlayCommand(*session, &afterPlay);
    }
    static void afterSetup(RTSPClient* c, int code, char* text) {
        RtspConversation& self = of(c);
        delete[] text;
        self.setupCodes.push_back(code);
        if (code == 0) {
            CollectingSink* sink = CollectingSink::createNew(self.m_harness.env);
            sink->onFrame = [&self](CollectingSink&) { self.checkDone(); };
            self.sinks.push_back(sink);
            self.sinkMedia.push_back(self.m_current->mediumName());
            self.m_current->sink = sink;
            sink->startPlaying(*self.m_current->readSource(), nullptr, nullptr);
        }
        self.setupNext();
    }
    static void afterPlay(RTSPClient* c, int code, char* text) {
        RtspConversation& self = of(c);
        self.playCode = code;
        if (code != 0) {
            self.playError = text ? text : "";
            return self.fail(code, text);
        }
        delete[] text;
        self.checkDone();
    }
    static void afterTeardown(RTSPClient* c, int code, char* text) {
        RtspConversation& self = of(c);
        self.teardownCode = code;
        delete[] text;
        self.m_harness.stop();
    }

    LoopHarness& m_harness;
    std::string m_url;
    Options m_options;
    ConversationClient* m_client = nullptr;
    size_t m_next = 0;
    MediaSubsession* m_current = nullptr;
};

}  // namespace kx::media::test
