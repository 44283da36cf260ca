#include "PayloaderPipeline.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <memory>
#include <mutex>

namespace kx::media::test {

namespace {

struct SinkState {
    std::mutex mutex;
    std::vector<Bytes>* out;
    std::string* caps;
};

GstFlowReturn onSample(GstAppSink* sink, gpointer data) {
    auto* state = static_cast<SinkState*>(data);
    GstSample* sample = gst_app_sink_pull_sample(sink);
    if (sample == nullptr) return GST_FLOW_ERROR;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstMapInfo map;
    if (buffer != nullptr && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        std::lock_guard lock(state->mutex);
        state->out->emplace_back(map.data, map.data + map.size);
        if (GstCaps* caps = gst_sample_get_caps(sample)) {
            gchar* text = gst_caps_to_string(caps);
            *state->caps = text;
            g_free(text);
        }
        gst_buffer_unmap(buffer, &map);
    }
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

}  // namespace

bool hasElements(const std::vector<const char*>& factories) {
    gst_init(nullptr, nullptr);
    for (const char* f : factories) {
        GstElementFactory* factory = gst_element_factory_find(f);
        if (factory == nullptr) return false;
        gst_object_unref(factory);
    }
    return true;
}

PipelineResult runPipeline(const std::string& launch, const std::vector<std::string>& sinkNames) {
    gst_init(nullptr, nullptr);
    PipelineResult result;
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(launch.c_str(), &error);
    if (pipeline == nullptr || error != nullptr) {
        result.error = error ? error->message : "cannot build the pipeline";
        g_clear_error(&error);
        if (pipeline) gst_object_unref(pipeline);
        return result;
    }
    std::vector<std::unique_ptr<SinkState>> states;
    for (const std::string& name : sinkNames) {
        GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), name.c_str());
        if (sink == nullptr) {
            result.error = "no appsink named " + name;
            gst_object_unref(pipeline);
            return result;
        }
        g_object_set(sink, "sync", FALSE, "max-buffers", 0u, "drop", FALSE, nullptr);
        auto state = std::make_unique<SinkState>();
        state->out = &result.buffers[name];
        state->caps = &result.caps[name];
        GstAppSinkCallbacks callbacks = {};
        callbacks.new_sample = &onSample;
        gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, state.get(), nullptr);
        states.push_back(std::move(state));
        gst_object_unref(sink);
    }
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* msg = gst_bus_timed_pop_filtered(
        bus, 120 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    if (msg != nullptr && GST_MESSAGE_TYPE(msg) == GST_MESSAGE_EOS) {
        result.ok = true;
    } else if (msg != nullptr) {
        GError* err = nullptr;
        gst_message_parse_error(msg, &err, nullptr);
        result.error = err ? err->message : "pipeline error";
        g_clear_error(&err);
    } else {
        result.error = "the pipeline did not finish";
    }
    if (msg) gst_message_unref(msg);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return result;
}

std::string capsField(const std::string& caps, const std::string& field) {
    const std::string key = field + "=";
    size_t pos = 0;
    while ((pos = caps.find(key, pos)) != std::string::npos) {
        if (pos == 0 || caps[pos - 1] == ' ' || caps[pos - 1] == ',') break;
        pos += key.size();
    }
    if (pos == std::string::npos) return "";
    pos += key.size();
    if (pos < caps.size() && caps[pos] == '(') {
        const size_t close = caps.find(')', pos);
        if (close == std::string::npos) return "";
        pos = close + 1;
    }
    bool quoted = pos < caps.size() && caps[pos] == '"';
    if (quoted) ++pos;
    size_t end = pos;
    while (end < caps.size() &&
           (quoted ? caps[end] != '"' : (caps[end] != ',' && caps[end] != ';'))) {
        ++end;
    }
    return caps.substr(pos, end - pos);
}

}  // namespace kx::media::test
