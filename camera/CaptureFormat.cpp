#include "camera/CaptureFormat.h"

#include "recording/MediaSubtypes.h"

#include <cstring>
#include <utility>
#include <vector>

namespace {

constexpr const char* kRaw = "video/x-raw";
constexpr const char* kJpeg = "image/jpeg";

using Fraction = std::pair<int, int>;

constexpr Fraction kUnboundedRate{1000, 1};
constexpr Fraction kDefaultMaxRate{30, 1};

// a/b < c/d for positive denominators.
bool Less(const Fraction& a, const Fraction& b) {
    return static_cast<int64_t>(a.first) * b.second < static_cast<int64_t>(b.first) * a.second;
}

Fraction FractionOf(const GValue* value) {
    return {gst_value_get_fraction_numerator(value), gst_value_get_fraction_denominator(value)};
}

// The rate to ask of one offered format: the requested rate when offered, else the fastest
// offered rate below it, else the slowest offered. False when the format names no rate.
bool ChooseRate(const GstStructure* s, int32_t fps, Fraction& rate) {
    const GValue* value = gst_structure_get_value(s, "framerate");
    if (value == nullptr) {
        return false;
    }
    // No limit asked: the largest rate a format can name.
    const Fraction wanted = fps > 0 ? Fraction{fps, 1} : Fraction{G_MAXINT, 1};
    std::vector<Fraction> offered;
    if (GST_VALUE_HOLDS_FRACTION(value)) {
        offered.push_back(FractionOf(value));
    } else if (GST_VALUE_HOLDS_FRACTION_RANGE(value)) {
        const Fraction min = FractionOf(gst_value_get_fraction_range_min(value));
        Fraction max = FractionOf(gst_value_get_fraction_range_max(value));
        // A range without a real upper bound (a generated source) is taken as the device
        // manager takes it: at most 30 frames a second.
        if (Less(kUnboundedRate, max)) {
            max = Less(kDefaultMaxRate, min) ? min : kDefaultMaxRate;
        }
        rate = Less(wanted, min) ? min : (Less(max, wanted) ? max : wanted);
        return true;
    } else if (GST_VALUE_HOLDS_LIST(value)) {
        for (guint i = 0; i < gst_value_list_get_size(value); ++i) {
            const GValue* item = gst_value_list_get_value(value, i);
            if (GST_VALUE_HOLDS_FRACTION(item)) {
                offered.push_back(FractionOf(item));
            }
        }
    }
    bool haveBelow = false;
    bool haveAny = false;
    Fraction slowest{0, 1};
    for (const Fraction& f : offered) {
        if (f.first <= 0 || f.second <= 0) {
            continue; // 0/1 is "variable", not a rate to ask for
        }
        if (!Less(wanted, f) && (!haveBelow || Less(rate, f))) {
            rate = f;
            haveBelow = true;
        }
        if (!haveAny || Less(f, slowest)) {
            slowest = f;
            haveAny = true;
        }
    }
    if (!haveBelow && haveAny) {
        rate = slowest;
    }
    return haveBelow || haveAny;
}

bool IsDecodable(const char* mediaType) {
    return std::strcmp(mediaType, kRaw) == 0 || std::strcmp(mediaType, kJpeg) == 0;
}

} // namespace

CCaptureFormat CCaptureFormat::Select(const GstCaps* offered, const CCaptureFormatRequest& request) {
    CCaptureFormat format;
    if (offered == nullptr || gst_caps_is_any(offered) || gst_caps_is_empty(offered)) {
        format.outcome = Outcome::NoConfiguration;
        return format;
    }
    format.outcome = Outcome::NoSuitableType;

    CapsPtr wanted(CapsFromSubtype(request.subtype));
    const bool sizeOk =
        request.width > 0 && request.height > 0 && request.width <= kMaxSide && request.height <= kMaxSide;
    if (wanted && sizeOk && IsDecodable(gst_structure_get_name(gst_caps_get_structure(wanted.get(), 0)))) {
        gst_caps_set_simple(wanted.get(), "width", G_TYPE_INT, request.width, "height", G_TYPE_INT,
                            request.height, nullptr);
        for (guint i = 0; i < gst_caps_get_size(offered); ++i) {
            const GstStructure* s = gst_caps_get_structure(offered, i);
            CapsPtr candidate(gst_caps_copy(wanted.get()));
            Fraction rate{0, 0};
            if (ChooseRate(s, request.fps, rate)) {
                gst_caps_set_simple(candidate.get(), "framerate", GST_TYPE_FRACTION, rate.first, rate.second,
                                    nullptr);
            }
            CapsPtr one(gst_caps_new_full(gst_structure_copy(s), nullptr));
            CapsPtr both(gst_caps_intersect(candidate.get(), one.get()));
            if (gst_caps_is_empty(both.get())) {
                continue;
            }
            format.outcome = Outcome::Selected;
            format.caps.reset(gst_caps_fixate(both.release()));
            format.jpeg = gst_structure_has_name(gst_caps_get_structure(format.caps.get(), 0), kJpeg);
            format.fpsNumerator = rate.first;
            format.fpsDenominator = rate.second;
            return format;
        }
    }
    // The source's defaults, limited to what the pipeline can turn into BGR: raw video first.
    for (const char* mediaType : {kRaw, kJpeg}) {
        for (guint i = 0; i < gst_caps_get_size(offered); ++i) {
            if (gst_structure_has_name(gst_caps_get_structure(offered, i), mediaType)) {
                format.caps.reset(gst_caps_new_empty_simple(mediaType));
                format.jpeg = std::strcmp(mediaType, kJpeg) == 0;
                return format;
            }
        }
    }
    return format;
}

std::string CCaptureFormat::ToString() const {
    if (!caps) {
        return "(source defaults)";
    }
    gchar* text = gst_caps_to_string(caps.get());
    std::string result = text != nullptr ? text : "";
    g_free(text);
    return result;
}
