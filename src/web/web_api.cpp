// The functions the page calls (web/core.js wraps them): one session of the updater, driven
// by the page's port and clock. Texts go in and out as UTF-8; a returned text stays valid until
// the next call that returns one.
#include "web/web_session.h"

#include <emscripten/emscripten.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {

std::unique_ptr<orvane::web::WebSession> g_session;
std::vector<orvane::web::LineOutput> g_output;
std::string g_text;

orvane::web::WebSession& Session() {
    if (!g_session)
        g_session = std::make_unique<orvane::web::WebSession>();
    return *g_session;
}

const char* Keep(std::string text) {
    g_text = std::move(text);
    return g_text.c_str();
}

const orvane::web::LineOutput* Output(int i) {
    return i >= 0 && static_cast<std::size_t>(i) < g_output.size() ? &g_output[i] : nullptr;
}

} // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE double orvane_set_now(double ms) {
    return Session().SetNow(ms);
}

EMSCRIPTEN_KEEPALIVE int orvane_link(int simulated, const char* label) {
    return Session().Link(simulated != 0, label ? label : "") ? 1 : 0;
}

EMSCRIPTEN_KEEPALIVE void orvane_unlink() {
    Session().Unlink();
}

EMSCRIPTEN_KEEPALIVE void orvane_port_lost() {
    Session().PortLost();
}

EMSCRIPTEN_KEEPALIVE int orvane_is_linked() {
    return Session().IsLinked() ? 1 : 0;
}

EMSCRIPTEN_KEEPALIVE void orvane_update(int confirmed) {
    Session().Update(confirmed != 0);
}

EMSCRIPTEN_KEEPALIVE void orvane_feed(const std::uint8_t* bytes, int count) {
    if (bytes && count > 0)
        Session().Feed(bytes, static_cast<std::size_t>(count));
}

EMSCRIPTEN_KEEPALIVE void orvane_set_stall_limit(int ms) {
    Session().SetStallLimit(ms > 0 ? static_cast<std::uint32_t>(ms) : 0);
}

// What the update wants on the line since the last call: the count, then each entry.
EMSCRIPTEN_KEEPALIVE int orvane_take_output() {
    g_output = Session().TakeOutput();
    return static_cast<int>(g_output.size());
}

// 0: a frame to write; 1: a speed change.
EMSCRIPTEN_KEEPALIVE int orvane_output_kind(int i) {
    const auto* out = Output(i);
    return out && out->kind == orvane::web::LineOutput::Kind::Speed ? 1 : 0;
}

EMSCRIPTEN_KEEPALIVE int orvane_output_delay(int i) {
    const auto* out = Output(i);
    return out ? static_cast<int>(out->delayMs) : 0;
}

EMSCRIPTEN_KEEPALIVE int orvane_output_baud(int i) {
    const auto* out = Output(i);
    return out ? static_cast<int>(out->baud) : 0;
}

EMSCRIPTEN_KEEPALIVE const std::uint8_t* orvane_output_data(int i) {
    const auto* out = Output(i);
    return out ? out->bytes.data() : nullptr;
}

EMSCRIPTEN_KEEPALIVE int orvane_output_size(int i) {
    const auto* out = Output(i);
    return out ? static_cast<int>(out->bytes.size()) : 0;
}

EMSCRIPTEN_KEEPALIVE const char* orvane_take_events() {
    return Keep(Session().TakeEvents());
}

EMSCRIPTEN_KEEPALIVE const char* orvane_report() {
    return Keep(Session().ReportJson());
}

EMSCRIPTEN_KEEPALIVE const char* orvane_add_trusted_key(const char* text, const char* label) {
    return Keep(Session().AddTrustedKey(text ? text : "", label ? label : ""));
}

EMSCRIPTEN_KEEPALIVE void orvane_package_clear() {
    Session().ClearPackageFiles();
}

EMSCRIPTEN_KEEPALIVE void orvane_package_add(const char* name, const std::uint8_t* bytes,
                                             int count) {
    std::vector<std::uint8_t> data;
    if (bytes && count > 0)
        data.assign(bytes, bytes + count);
    Session().AddPackageFile(name ? name : "", std::move(data));
}

EMSCRIPTEN_KEEPALIVE const char* orvane_package_load(const char* folder) {
    const char* result = Keep(Session().LoadPackage(folder ? folder : ""));
    Session().ClearPackageFiles();
    return result;
}

} // extern "C"
