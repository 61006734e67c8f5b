#pragma once
// The capture format a camera's preview pipeline asks of its source: the first of the formats the
// source offers that has the camera's media subtype (".MediaSubtype") and frame size
// (".VideoSize"), at the camera's frame rate (".FPS") or, when the source cannot deliver that,
// at the offered rate nearest below it (a camera set to 1000 frames a second gets the fastest the
// source has, as a capture driver answers a rate it cannot do), else the slowest offered.
//
// When the source offers nothing to choose from, or nothing that fits, the pipeline starts with
// the source's own defaults, constrained only to a media type that it can decode.
//
// Pure functions on caps; any thread.

#include "platform/Guid.h"

#include <gst/gst.h>

#include <cstdint>
#include <memory>
#include <string>

struct CCaptureFormatRequest {
    GUID subtype = MEDIASUBTYPE_RGB24;
    int32_t width = 320;
    int32_t height = 240;
    int32_t fps = 1000; // 0 or less: as fast as the source can
};

struct CapsDeleter {
    void operator()(GstCaps* caps) const {
        if (caps != nullptr) {
            gst_caps_unref(caps);
        }
    }
};
using CapsPtr = std::unique_ptr<GstCaps, CapsDeleter>;

struct CCaptureFormat {
    enum class Outcome {
        Selected,        // caps: the fixed format chosen
        NoConfiguration, // the source offers no formats to choose from; caps may be null
        NoSuitableType,  // none of the offered formats fits; caps: the media type to decode
    };
    // Largest frame side accepted in a request; larger sizes are never asked of a source.
    static constexpr int32_t kMaxSide = 8192;

    Outcome outcome = Outcome::NoConfiguration;
    CapsPtr caps;      // what the pipeline puts right behind the source (null: nothing)
    bool jpeg = false; // the source delivers JPEG pictures that need decoding
    int32_t fpsNumerator = 0;
    int32_t fpsDenominator = 0; // 0: no rate chosen

    // Chooses among the offered caps (null, ANY or empty: nothing to choose from).
    static CCaptureFormat Select(const GstCaps* offered, const CCaptureFormatRequest& request);
    // The caps as text, for traces.
    std::string ToString() const;
};
