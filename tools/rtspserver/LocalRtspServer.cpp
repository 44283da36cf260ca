#include "LocalRtspServer.h"

#include <gst/gst.h>
#include <gst/rtsp-server/rtsp-server.h>

#include <future>

namespace Brelso::Tools {

namespace {

constexpr const char* kUserRole = "user";

void initGstreamerOnce() {
    static std::once_flag once;
    std::call_once(once, [] { gst_init(nullptr, nullptr); });
}

GstRTSPFilterResult removeClient(GstRTSPServer*, GstRTSPClient*, gpointer) {
    return GST_RTSP_FILTER_REMOVE;
}

GstRTSPFilterResult removeSession(GstRTSPSessionPool*, GstRTSPSession*, gpointer) {
    return GST_RTSP_FILTER_REMOVE;
}

gboolean cleanupSessions(gpointer data) {
    gst_rtsp_session_pool_cleanup(static_cast<GstRTSPSessionPool*>(data));
    return G_SOURCE_CONTINUE;
}

void onNewSession(GstRTSPClient*, GstRTSPSession* session, gpointer data) {
    const auto seconds = GPOINTER_TO_UINT(data);
    if (seconds > 0) gst_rtsp_session_set_timeout(session, seconds);
}

}  // namespace

LocalRtspServer::LocalRtspServer(RtspServerConfig config) : m_config(std::move(config)) {
    initGstreamerOnce();
}

LocalRtspServer::~LocalRtspServer() {
    stop();
}

void LocalRtspServer::addMount(const RtspMount& mount) {
    bool replaced = false;
    for (auto& existing : m_mounts) {
        if (existing.path == mount.path) {
            existing = mount;
            replaced = true;
        }
    }
    if (!replaced) m_mounts.push_back(mount);
    if (m_server) applyMount(mount);
}

void LocalRtspServer::applyMount(const RtspMount& mount) {
    GstRTSPMediaFactory* factory = gst_rtsp_media_factory_new();
    gst_rtsp_media_factory_set_launch(factory, mount.launch.c_str());
    gst_rtsp_media_factory_set_shared(factory, mount.shared);
    unsigned protocols = 0;
    if (mount.transports & kTransportUdp) protocols |= GST_RTSP_LOWER_TRANS_UDP;
    if (mount.transports & kTransportTcp) protocols |= GST_RTSP_LOWER_TRANS_TCP;
    gst_rtsp_media_factory_set_protocols(factory, static_cast<GstRTSPLowerTrans>(protocols));
    if (!m_config.userName.empty()) {
        gst_rtsp_media_factory_add_role(factory, kUserRole, GST_RTSP_PERM_MEDIA_FACTORY_ACCESS,
                                        G_TYPE_BOOLEAN, TRUE, GST_RTSP_PERM_MEDIA_FACTORY_CONSTRUCT,
                                        G_TYPE_BOOLEAN, TRUE, nullptr);
    }
    GstRTSPMountPoints* mounts = gst_rtsp_server_get_mount_points(m_server);
    gst_rtsp_mount_points_add_factory(mounts, mount.path.c_str(), factory);  // takes factory
    g_object_unref(mounts);
}

bool LocalRtspServer::buildServer(uint16_t port) {
    m_server = gst_rtsp_server_new();
    gst_rtsp_server_set_address(m_server, "127.0.0.1");
    const std::string service = std::to_string(port);
    gst_rtsp_server_set_service(m_server, service.c_str());

    if (!m_config.userName.empty()) {
        // No default token: a request without valid credentials gets 401 and a challenge.
        GstRTSPAuth* auth = gst_rtsp_auth_new();
        GstRTSPToken* token = gst_rtsp_token_new(GST_RTSP_TOKEN_MEDIA_FACTORY_ROLE, G_TYPE_STRING,
                                                 kUserRole, nullptr);
        unsigned methods = 0;
        if (m_config.authMethods & kAuthBasic) {
            gchar* basic =
                gst_rtsp_auth_make_basic(m_config.userName.c_str(), m_config.password.c_str());
            gst_rtsp_auth_add_basic(auth, basic, token);
            g_free(basic);
            methods |= GST_RTSP_AUTH_BASIC;
        }
        if (m_config.authMethods & kAuthDigest) {
            gst_rtsp_auth_add_digest(auth, m_config.userName.c_str(), m_config.password.c_str(),
                                     token);
            methods |= GST_RTSP_AUTH_DIGEST;
        }
        gst_rtsp_auth_set_supported_methods(auth, static_cast<GstRTSPAuthMethod>(methods));
        gst_rtsp_token_unref(token);
        gst_rtsp_server_set_auth(m_server, auth);
        g_object_unref(auth);
    }

    g_signal_connect(m_server, "client-connected",
                     G_CALLBACK(+[](GstRTSPServer*, GstRTSPClient* client, gpointer self) {
                         auto* server = static_cast<LocalRtspServer*>(self);
                         server->countConnection();
                         g_signal_connect(client, "new-session", G_CALLBACK(onNewSession),
                                          GUINT_TO_POINTER(server->m_config.sessionTimeoutSeconds));
                     }),
                     this);

    for (const auto& mount : m_mounts) applyMount(mount);

    m_sourceId = gst_rtsp_server_attach(m_server, m_context);
    if (m_sourceId == 0) {
        m_lastError = "cannot listen on 127.0.0.1:" + service;
        return false;
    }
    m_port = static_cast<uint16_t>(gst_rtsp_server_get_bound_port(m_server));

    GstRTSPSessionPool* pool = gst_rtsp_server_get_session_pool(m_server);
    GSource* cleanup = g_timeout_source_new(m_config.cleanupIntervalMs);
    g_source_set_callback(cleanup, cleanupSessions, pool, g_object_unref);
    g_source_attach(cleanup, m_context);
    g_source_unref(cleanup);
    return true;
}

bool LocalRtspServer::start(uint16_t port) {
    if (running()) {
        m_lastError = "already running";
        return false;
    }
    {
        std::lock_guard lock(m_mutex);
        m_connections = 0;
    }
    m_context = g_main_context_new();
    m_loop = g_main_loop_new(m_context, FALSE);
    if (!buildServer(port)) {
        g_object_unref(m_server);
        m_server = nullptr;
        g_main_loop_unref(m_loop);
        m_loop = nullptr;
        g_main_context_unref(m_context);
        m_context = nullptr;
        return false;
    }
    m_thread = std::thread([this] {
        g_main_context_push_thread_default(m_context);
        g_main_loop_run(m_loop);
        g_main_context_pop_thread_default(m_context);
    });
    return true;
}

void LocalRtspServer::stop() {
    if (!running()) return;
    // Everything touching clients and sessions happens on the server's own thread.
    struct StopJob {
        LocalRtspServer* self;
    } job{this};
    g_main_context_invoke(
        m_context,
        [](gpointer data) -> gboolean {
            auto* self = static_cast<StopJob*>(data)->self;
            GSource* listener = g_main_context_find_source_by_id(self->m_context, self->m_sourceId);
            if (listener) g_source_destroy(listener);
            GList* clients = gst_rtsp_server_client_filter(self->m_server, removeClient, nullptr);
            g_list_free_full(clients, g_object_unref);
            GstRTSPSessionPool* pool = gst_rtsp_server_get_session_pool(self->m_server);
            GList* sessions = gst_rtsp_session_pool_filter(pool, removeSession, nullptr);
            g_list_free_full(sessions, g_object_unref);
            g_object_unref(pool);
            g_main_loop_quit(self->m_loop);
            return G_SOURCE_REMOVE;
        },
        &job);
    m_thread.join();
    // Drain what the last iteration left (closed client sources) before releasing the server.
    while (g_main_context_iteration(m_context, FALSE)) {
    }
    g_object_unref(m_server);
    m_server = nullptr;
    g_main_loop_unref(m_loop);
    m_loop = nullptr;
    g_main_context_unref(m_context);
    m_context = nullptr;
    m_sourceId = 0;
}

bool LocalRtspServer::restart() {
    return start(m_port);
}

std::string LocalRtspServer::url(const std::string& path, bool withCredentials) const {
    std::string text = "rtsp://";
    if (withCredentials && !m_config.userName.empty()) {
        text += m_config.userName + ":" + m_config.password + "@";
    }
    return text + "127.0.0.1:" + std::to_string(m_port) + path;
}

unsigned LocalRtspServer::connectionCount() const {
    std::lock_guard lock(m_mutex);
    return m_connections;
}

void LocalRtspServer::countConnection() {
    std::lock_guard lock(m_mutex);
    ++m_connections;
}

}  // namespace Brelso::Tools
