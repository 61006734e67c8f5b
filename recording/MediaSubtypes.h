#pragma once
// The DirectShow media subtypes (GUIDs, as camera documents store them in .MediaSubtype) and
// their GStreamer equivalents: RGB24 is video/x-raw,format=BGR, YUY2 is YUY2, MJPG is image/jpeg,
// and so on. The device manager maps a device's caps to subtypes; the preview pipeline maps a
// camera's subtype back to caps. Pure functions, callable from any thread.

#include "platform/Guid.h"

#include <gst/gst.h>

#include <string>
#include <vector>

struct CMediaSubtypeInfo {
    GUID guid;
    const char* name;      // the subtype's name without its MEDIASUBTYPE_ prefix: "RGB24", "YUY2"
    const char* mediaType; // GStreamer structure name, or null when GStreamer has no equivalent
    const char* format;    // video/x-raw format name, or null for other media types
};

// Every subtype of the table, in table order.
const std::vector<CMediaSubtypeInfo>& GetMediaSubtypes();

// The subtype's name, or "Unknown" for a GUID not in the table.
std::string GetMediaSubtypeName(const GUID& subtype);

// The subtypes that one caps structure offers (several when its format is a list); unknown
// formats are left out.
std::vector<GUID> SubtypesFromStructure(const GstStructure* structure);

// Caps that select the subtype (video/x-raw,format=BGR for RGB24), or null when GStreamer has no
// equivalent. The caller owns the caps.
GstCaps* CapsFromSubtype(const GUID& subtype);
