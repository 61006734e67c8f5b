#pragma once
// The application's side of its two GStreamer elements: starting GStreamer so that the elements
// are found, creating them by factory name and reaching their control interfaces.
//
// InitGStreamer is called once at start-up (on the main thread) before anything else touches
// GStreamer; the rest may be called from any thread afterwards. The elements' contracts are
// grabber/ITavrixGrabber.h and source/ITavrixSource.h.

#include "grabber/ITavrixGrabber.h"
#include "source/ITavrixSource.h"

#include <gst/gst.h>

#include <string>
#include <vector>

// Initialises GStreamer (once; later calls do nothing) and adds the application's plugin folders
// (GetPluginFolders) to the registry, so that "tavrixgrabber" and "tavrixsource" can be created.
// The environment decides the rest as usual: GST_REGISTRY (tests point it at a private file),
// GST_PLUGIN_PATH, GST_DEBUG.
void InitGStreamer();

// The folder of the application's own plugins, when it exists: ../lib/tavrix/gstreamer-1.0 from
// an installed executable's folder, else the build's plugin folder.
std::vector<std::string> GetPluginFolders();

// A new "tavrixgrabber" element named `name` (a floating reference, as gst_element_factory_make
// returns). Throws CDirectXEx (REGDB_E_CLASSNOTREG) "Could not create TavrixGrabber
// (TavrixGrabber.ax registered?)." when the factory is missing.
GstElement* CreateGrabberElement(const std::string& name = "TavrixGrabber");
// The element's control interface; throws CGeneralEx when the element is not a grabber.
ITavrixGrabber* GetGrabberControl(GstElement* grabber);

// A new "tavrixsource" element named `name` (floating). Throws CDirectXEx (REGDB_E_CLASSNOTREG)
// "Could not TavrixSource filter (TavrixSource.ax registered?)." when the factory is missing.
GstElement* CreateSourceElement(const std::string& name = "TavrixSourceFilter");
// The element's control interface; throws CGeneralEx "Could not get control interface for
// TavrixSource filter." when the element is not a tavrixsource.
ITavrixSource* GetSourceControl(GstElement* source);
