#pragma once
// 32-bit result codes in the style of the Windows media framework (DirectShow). The two
// GStreamer elements report their control operations with these codes, and CDirectXEx carries one
// from a failed platform call. Header-only constants so that the plugins can use them without
// linking application code; the code -> name table lives in HResult.cpp (core library only).

#include <cstdint>
#include <string>

using HRESULT = int32_t;
using REFERENCE_TIME = int64_t; // 100-ns units

constexpr bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}
constexpr bool FAILED(HRESULT hr) {
    return hr < 0;
}

constexpr HRESULT MakeHResult(uint32_t code) {
    return static_cast<HRESULT>(code);
}
// A Win32 error number as a result code (facility 7).
constexpr HRESULT HResultFromWin32(uint32_t err) {
    return err == 0 ? 0 : static_cast<HRESULT>((err & 0xFFFFu) | 0x80070000u);
}

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = MakeHResult(0x80004001);
constexpr HRESULT E_NOINTERFACE = MakeHResult(0x80004002);
constexpr HRESULT E_POINTER = MakeHResult(0x80004003);
constexpr HRESULT E_ABORT = MakeHResult(0x80004004);
constexpr HRESULT E_FAIL = MakeHResult(0x80004005);
constexpr HRESULT E_UNEXPECTED = MakeHResult(0x8000FFFF);
constexpr HRESULT E_ACCESSDENIED = MakeHResult(0x80070005);
constexpr HRESULT E_HANDLE = MakeHResult(0x80070006);
constexpr HRESULT E_OUTOFMEMORY = MakeHResult(0x8007000E);
constexpr HRESULT E_INVALIDARG = MakeHResult(0x80070057);
constexpr HRESULT HRESULT_DISK_FULL = MakeHResult(0x80070070); // ERROR_DISK_FULL
constexpr HRESULT HRESULT_FILE_NOT_FOUND = MakeHResult(0x80070002);
constexpr HRESULT HRESULT_PATH_NOT_FOUND = MakeHResult(0x80070003);
constexpr HRESULT HRESULT_WRITE_FAULT = MakeHResult(0x8007001D);
constexpr HRESULT HRESULT_NOT_SUPPORTED = MakeHResult(0x80070032);
constexpr HRESULT HRESULT_TIMEOUT = MakeHResult(0x800705B4);
constexpr HRESULT HRESULT_DEVICE_NOT_CONNECTED = MakeHResult(0x8007048F);
constexpr HRESULT HRESULT_DEVICE_REMOVED = MakeHResult(0x80070651);
constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHResult(0x80040154);
constexpr HRESULT CO_E_NOTINITIALIZED = MakeHResult(0x800401F0);
constexpr HRESULT MK_E_SYNTAX = MakeHResult(0x800401E4);
constexpr HRESULT MK_E_NOOBJECT = MakeHResult(0x800401E5);

// Media framework codes.
constexpr HRESULT VFW_S_NO_MORE_ITEMS = MakeHResult(0x00040103);
constexpr HRESULT VFW_E_INVALIDMEDIATYPE = MakeHResult(0x80040200);
constexpr HRESULT VFW_E_INVALIDSUBTYPE = MakeHResult(0x80040201);
constexpr HRESULT VFW_E_NEED_OWNER = MakeHResult(0x80040202);
constexpr HRESULT VFW_E_ENUM_OUT_OF_SYNC = MakeHResult(0x80040203);
constexpr HRESULT VFW_E_ALREADY_CONNECTED = MakeHResult(0x80040204);
constexpr HRESULT VFW_E_FILTER_ACTIVE = MakeHResult(0x80040205);
constexpr HRESULT VFW_E_NO_TYPES = MakeHResult(0x80040206);
constexpr HRESULT VFW_E_NO_ACCEPTABLE_TYPES = MakeHResult(0x80040207);
constexpr HRESULT VFW_E_INVALID_DIRECTION = MakeHResult(0x80040208);
constexpr HRESULT VFW_E_NOT_CONNECTED = MakeHResult(0x80040209);
constexpr HRESULT VFW_E_NO_ALLOCATOR = MakeHResult(0x8004020A);
constexpr HRESULT VFW_E_RUNTIME_ERROR = MakeHResult(0x8004020B);
constexpr HRESULT VFW_E_BUFFER_NOTSET = MakeHResult(0x8004020C);
constexpr HRESULT VFW_E_BUFFER_OVERFLOW = MakeHResult(0x8004020D);
constexpr HRESULT VFW_E_BADALIGN = MakeHResult(0x8004020E);
constexpr HRESULT VFW_E_ALREADY_COMMITTED = MakeHResult(0x8004020F);
constexpr HRESULT VFW_E_BUFFERS_OUTSTANDING = MakeHResult(0x80040210);
constexpr HRESULT VFW_E_NOT_COMMITTED = MakeHResult(0x80040211);
constexpr HRESULT VFW_E_SIZENOTSET = MakeHResult(0x80040212);
constexpr HRESULT VFW_E_NO_CLOCK = MakeHResult(0x80040213);
constexpr HRESULT VFW_E_NO_SINK = MakeHResult(0x80040214);
constexpr HRESULT VFW_E_NO_INTERFACE = MakeHResult(0x80040215);
constexpr HRESULT VFW_E_NOT_FOUND = MakeHResult(0x80040216);
constexpr HRESULT VFW_E_CANNOT_CONNECT = MakeHResult(0x80040217);
constexpr HRESULT VFW_E_CANNOT_RENDER = MakeHResult(0x80040218);
constexpr HRESULT VFW_E_CHANGING_FORMAT = MakeHResult(0x80040219);
constexpr HRESULT VFW_E_NO_COLOR_KEY_SET = MakeHResult(0x8004021A);
constexpr HRESULT VFW_E_NOT_OVERLAY_CONNECTION = MakeHResult(0x8004021B);
constexpr HRESULT VFW_E_NOT_SAMPLE_CONNECTION = MakeHResult(0x8004021C);
constexpr HRESULT VFW_E_PALETTE_SET = MakeHResult(0x8004021D);
constexpr HRESULT VFW_E_COLOR_KEY_SET = MakeHResult(0x8004021E);
constexpr HRESULT VFW_E_NO_COLOR_KEY_FOUND = MakeHResult(0x8004021F);
constexpr HRESULT VFW_E_NO_PALETTE_AVAILABLE = MakeHResult(0x80040220);
constexpr HRESULT VFW_E_NO_DISPLAY_PALETTE = MakeHResult(0x80040221);
constexpr HRESULT VFW_E_TOO_MANY_COLORS = MakeHResult(0x80040222);
constexpr HRESULT VFW_E_STATE_CHANGED = MakeHResult(0x80040223);
constexpr HRESULT VFW_E_NOT_STOPPED = MakeHResult(0x80040224);
constexpr HRESULT VFW_E_NOT_PAUSED = MakeHResult(0x80040225);
constexpr HRESULT VFW_E_NOT_RUNNING = MakeHResult(0x80040226);
constexpr HRESULT VFW_E_WRONG_STATE = MakeHResult(0x80040227);
constexpr HRESULT VFW_E_START_TIME_AFTER_END = MakeHResult(0x80040228);
constexpr HRESULT VFW_E_INVALID_RECT = MakeHResult(0x80040229);
constexpr HRESULT VFW_E_TYPE_NOT_ACCEPTED = MakeHResult(0x8004022A);
constexpr HRESULT VFW_E_SAMPLE_REJECTED = MakeHResult(0x8004022B);
constexpr HRESULT VFW_E_SAMPLE_REJECTED_EOS = MakeHResult(0x8004022C);
constexpr HRESULT VFW_E_DUPLICATE_NAME = MakeHResult(0x8004022D);
constexpr HRESULT VFW_E_TIMEOUT = MakeHResult(0x8004022E);
constexpr HRESULT VFW_E_INVALID_FILE_FORMAT = MakeHResult(0x8004022F);
constexpr HRESULT VFW_E_ENUM_OUT_OF_RANGE = MakeHResult(0x80040230);
constexpr HRESULT VFW_E_CIRCULAR_GRAPH = MakeHResult(0x80040231);
constexpr HRESULT VFW_E_NOT_ALLOWED_TO_SAVE = MakeHResult(0x80040232);
constexpr HRESULT VFW_E_TIME_ALREADY_PASSED = MakeHResult(0x80040233);
constexpr HRESULT VFW_E_ALREADY_CANCELLED = MakeHResult(0x80040234);
constexpr HRESULT VFW_E_CORRUPT_GRAPH_FILE = MakeHResult(0x80040235);
constexpr HRESULT VFW_E_ADVISE_ALREADY_SET = MakeHResult(0x80040236);
constexpr HRESULT VFW_E_NO_MODEX_AVAILABLE = MakeHResult(0x80040238);
constexpr HRESULT VFW_E_NO_ADVISE_SET = MakeHResult(0x80040239);
constexpr HRESULT VFW_E_NO_FULLSCREEN = MakeHResult(0x8004023A);
constexpr HRESULT VFW_E_IN_FULLSCREEN_MODE = MakeHResult(0x8004023B);
constexpr HRESULT VFW_E_UNKNOWN_FILE_TYPE = MakeHResult(0x80040240);
constexpr HRESULT VFW_E_CANNOT_LOAD_SOURCE_FILTER = MakeHResult(0x80040241);
constexpr HRESULT VFW_E_FILE_TOO_SHORT = MakeHResult(0x80040243);
constexpr HRESULT VFW_E_INVALID_FILE_VERSION = MakeHResult(0x80040244);
constexpr HRESULT VFW_E_INVALID_CLSID = MakeHResult(0x80040247);
constexpr HRESULT VFW_E_INVALID_MEDIA_TYPE = MakeHResult(0x80040248);
constexpr HRESULT VFW_E_SAMPLE_TIME_NOT_SET = MakeHResult(0x80040249);
constexpr HRESULT VFW_E_MEDIA_TIME_NOT_SET = MakeHResult(0x80040251);
constexpr HRESULT VFW_E_NO_TIME_FORMAT_SET = MakeHResult(0x80040252);
constexpr HRESULT VFW_E_MONO_AUDIO_HW = MakeHResult(0x80040253);
constexpr HRESULT VFW_E_NO_DECOMPRESSOR = MakeHResult(0x80040255);
constexpr HRESULT VFW_E_NO_AUDIO_HARDWARE = MakeHResult(0x80040256);
constexpr HRESULT VFW_E_RPZA = MakeHResult(0x80040259);
constexpr HRESULT VFW_E_PROCESSOR_NOT_SUITABLE = MakeHResult(0x8004025B);
constexpr HRESULT VFW_E_UNSUPPORTED_AUDIO = MakeHResult(0x8004025C);
constexpr HRESULT VFW_E_UNSUPPORTED_VIDEO = MakeHResult(0x8004025D);
constexpr HRESULT VFW_E_MPEG_NOT_CONSTRAINED = MakeHResult(0x8004025E);
constexpr HRESULT VFW_E_NOT_IN_GRAPH = MakeHResult(0x8004025F);
constexpr HRESULT VFW_E_NO_TIME_FORMAT = MakeHResult(0x80040261);
constexpr HRESULT VFW_E_READ_ONLY = MakeHResult(0x80040262);
constexpr HRESULT VFW_E_BUFFER_UNDERFLOW = MakeHResult(0x80040264);
constexpr HRESULT VFW_E_UNSUPPORTED_STREAM = MakeHResult(0x80040265);
constexpr HRESULT VFW_E_NO_TRANSPORT = MakeHResult(0x80040266);
constexpr HRESULT VFW_E_BAD_VIDEOCD = MakeHResult(0x80040269);
constexpr HRESULT VFW_E_OUT_OF_VIDEO_MEMORY = MakeHResult(0x80040271);
constexpr HRESULT VFW_E_VP_NEGOTIATION_FAILED = MakeHResult(0x80040272);
constexpr HRESULT VFW_E_DDRAW_CAPS_NOT_SUITABLE = MakeHResult(0x80040273);
constexpr HRESULT VFW_E_NO_VP_HARDWARE = MakeHResult(0x80040274);
constexpr HRESULT VFW_E_NO_CAPTURE_HARDWARE = MakeHResult(0x80040275);
constexpr HRESULT VFW_E_DVD_OPERATION_INHIBITED = MakeHResult(0x80040276);
constexpr HRESULT VFW_E_TIME_EXPIRED = MakeHResult(0x8004027D);
constexpr HRESULT VFW_E_FRAME_STEP_UNSUPPORTED = MakeHResult(0x8004028E);
constexpr HRESULT VFW_E_PIN_ALREADY_BLOCKED = MakeHResult(0x80040293);
constexpr HRESULT VFW_E_CERTIFICATION_FAILURE = MakeHResult(0x80040294);
constexpr HRESULT VFW_E_VMR_NOT_IN_MIXER_MODE = MakeHResult(0x80040295);
constexpr HRESULT VFW_E_CODECAPI_NO_DEFAULT = MakeHResult(0x800402A4);
constexpr HRESULT VFW_S_STATE_INTERMEDIATE = MakeHResult(0x00040237);
constexpr HRESULT VFW_S_PARTIAL_RENDER = MakeHResult(0x00040242);
constexpr HRESULT VFW_S_NO_STOP_TIME = MakeHResult(0x00040270);

// Windows Media codes the recorder reports.
constexpr HRESULT NS_E_INVALID_REQUEST = MakeHResult(0xC00D002B);
constexpr HRESULT NS_E_FILE_WRITE = MakeHResult(0xC00D0013);
constexpr HRESULT NS_E_NO_MORE_SAMPLES = MakeHResult(0xC00D0BCF);
constexpr HRESULT NS_E_INVALID_INPUT_FORMAT = MakeHResult(0xC00D0BB8);

// The symbolic name of a result code ("E_FAIL", "VFW_E_NOT_CONNECTED"), or, for a code not in the
// table, "Unknown HRESULT 0x%08X" (lower layers of GStreamer errors map onto the codes above).
std::string GetHResultName(HRESULT hr);
