#include "recording/TavrixElements.h"
#include "TavrixBuildPaths.h"

#include "foundation/Exceptions.h"
#include "foundation/Tracer.h"
#include "platform/Paths.h"

#include <csignal>
#include <mutex>

namespace {

constexpr const char* kGrabberFactory = "tavrixgrabber";
constexpr const char* kSourceFactory = "tavrixsource";

// Loads a plugin of ours straight into this process when the registry does not offer its factory
// (a registry scanned by a helper process that could not load it, as in sanitizer builds).
void EnsureFactory(const char* factoryName) {
    GstElementFactory* factory = gst_element_factory_find(factoryName);
    if (factory != nullptr) {
        gst_object_unref(factory);
        return;
    }
    const std::string file = std::string("libgst") + factoryName + ".so";
    for (const std::string& folder : GetPluginFolders()) {
        const std::string path = folder + "/" + file;
        if (!platform::FileExists(path)) {
            continue;
        }
        GError* error = nullptr;
        GstPlugin* plugin = gst_plugin_load_file(path.c_str(), &error);
        if (plugin != nullptr) {
            TRACE("InitGStreamer() loaded %s", path.c_str());
            gst_object_unref(plugin);
            return;
        }
        TRACE("InitGStreamer() cannot load %s: %s", path.c_str(), error ? error->message : "?");
        g_clear_error(&error);
    }
}

// The pointer behind an element's read-only "control" property, or null when it has none.
void* ControlOf(GstElement* element) {
    if (element == nullptr ||
        g_object_class_find_property(G_OBJECT_GET_CLASS(element), "control") == nullptr) {
        return nullptr;
    }
    void* control = nullptr;
    g_object_get(element, "control", &control, nullptr);
    return control;
}

bool IsFromFactory(GstElement* element, const char* factoryName) {
    GstElementFactory* factory = element ? gst_element_get_factory(element) : nullptr;
    return factory != nullptr &&
           g_strcmp0(gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)), factoryName) == 0;
}

} // namespace

std::vector<std::string> GetPluginFolders() {
    // An installed executable (PREFIX/bin/tavrix) takes its own plugins from
    // PREFIX/lib/tavrix/gstreamer-1.0, wherever the prefix was moved or staged, and never those of
    // a build tree; the programs of a build (the executable, the tests) take the build's.
    const std::string installed =
        platform::DirName(platform::DirName(platform::ExecutablePath())) + "/lib/tavrix/gstreamer-1.0";
    for (const std::string& folder : {installed, std::string(TAVRIX_PLUGIN_DIR)}) {
        if (platform::IsDirectory(folder)) {
            return {folder};
        }
    }
    return {};
}

namespace {

// GStreamer brings its registry up to date through a helper process (gst-plugin-scanner) that it
// feeds over a pipe. When a plugin kills that helper (one built with a sanitizer, a broken one on
// the system), the next write to the pipe raises SIGPIPE, whose default action would end this
// program although GStreamer copes with the dead helper (it blacklists the plugin and goes on).
// Every write of ours to a pipe or socket checks its result, so SIGPIPE is ignored unless the
// program has installed a handler of its own. Started programs get the default back.
void IgnoreBrokenPipes() {
    struct sigaction current {};
    if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL &&
        (current.sa_flags & SA_SIGINFO) == 0) {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGPIPE, &ignore, nullptr);
        TRACE("InitGStreamer() SIGPIPE ignored");
    }
}

} // namespace

void InitGStreamer() {
    static std::once_flag once;
    std::call_once(once, [] {
        IgnoreBrokenPipes();
        if (!gst_is_initialized()) {
            gst_init(nullptr, nullptr);
        }
        GstRegistry* registry = gst_registry_get();
        for (const std::string& folder : GetPluginFolders()) {
            TRACE("InitGStreamer() plugin folder %s", folder.c_str());
            gst_registry_scan_path(registry, folder.c_str());
        }
        EnsureFactory(kGrabberFactory);
        EnsureFactory(kSourceFactory);
        TRACE("InitGStreamer() %s", gst_version_string());
    });
}

GstElement* CreateGrabberElement(const std::string& name) {
    GstElement* element = gst_element_factory_make(kGrabberFactory, name.empty() ? nullptr : name.c_str());
    if (element == nullptr) {
        THROW_DIRECTX(REGDB_E_CLASSNOTREG, "Could not create TavrixGrabber (TavrixGrabber.ax registered?).");
    }
    return element;
}

ITavrixGrabber* GetGrabberControl(GstElement* grabber) {
    void* control = IsFromFactory(grabber, kGrabberFactory) ? ControlOf(grabber) : nullptr;
    if (control == nullptr) {
        THROW_GENERAL("Could not get control interface for TavrixGrabber filter.");
    }
    return static_cast<ITavrixGrabber*>(control);
}

GstElement* CreateSourceElement(const std::string& name) {
    GstElement* element = gst_element_factory_make(kSourceFactory, name.empty() ? nullptr : name.c_str());
    if (element == nullptr) {
        THROW_DIRECTX(REGDB_E_CLASSNOTREG, "Could not TavrixSource filter (TavrixSource.ax registered?).");
    }
    return element;
}

ITavrixSource* GetSourceControl(GstElement* source) {
    void* control = IsFromFactory(source, kSourceFactory) ? ControlOf(source) : nullptr;
    if (control == nullptr) {
        THROW_GENERAL("Could not get control interface for TavrixSource filter.");
    }
    return static_cast<ITavrixSource*>(control);
}
