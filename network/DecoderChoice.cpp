#include "network/NetworkSource.h"

#include "foundation/Tracer.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

namespace {

struct CCodecDecoders {
    const char* codec;
    const char* hardware;
    const char* software;
};
constexpr CCodecDecoders kDecoders[] = {
    {"h264", "vah264dec", "avdec_h264"},
    {"h265", "vah265dec", "avdec_h265"},
    {"jpeg", "vajpegdec", "jpegdec"},
};

// Whether the factory exists and an element of it opens its device (READY).
bool DecoderWorks(const char* factory) {
    static std::mutex lock;
    static std::map<std::string, bool> known; // guarded by lock
    std::lock_guard<std::mutex> guard(lock);
    const auto found = known.find(factory);
    if (found != known.end()) {
        return found->second;
    }
    bool works = false;
    if (GstElement* element = gst_element_factory_make(factory, nullptr)) {
        gst_object_ref_sink(element);
        works = gst_element_set_state(element, GST_STATE_READY) != GST_STATE_CHANGE_FAILURE;
        gst_element_set_state(element, GST_STATE_NULL);
        gst_object_unref(element);
    }
    TRACE("ChooseDecoder() %s %s", factory, works ? "works" : "is not usable here");
    known[factory] = works;
    return works;
}

bool Exists(const char* factory) {
    GstElementFactory* found = gst_element_factory_find(factory);
    if (found == nullptr) {
        return false;
    }
    gst_object_unref(found);
    return true;
}

} // namespace

std::string CDecoderChoice::Describe() const {
    if (factory.empty()) {
        return "none";
    }
    return factory + (hardware ? " (hardware)" : " (software)");
}

CDecoderChoice ChooseDecoder(const std::string& codec) {
    const char* wanted = std::getenv("TAVRIX_DECODER");
    const bool softwareOnly = wanted != nullptr && std::strcmp(wanted, "software") == 0;
    for (const CCodecDecoders& decoders : kDecoders) {
        if (codec != decoders.codec) {
            continue;
        }
        if (!softwareOnly && DecoderWorks(decoders.hardware)) {
            return {decoders.hardware, true};
        }
        if (Exists(decoders.software)) {
            return {decoders.software, false};
        }
    }
    return {};
}
